// libFuzzer target: deflates arbitrary input, read in piece sizes taken from the
// input's first byte, and checks that zlib inflates it back to the same bytes
// and that the recorded size is the number of bytes written.
#include "memory_zip.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    memzip::Harness h;
    uint32_t piece = 0;
    if (size > 0) {
        piece = data[0] < 128 ? 0 : data[0] - 127u; // half of the inputs read as asked
        data++;
        size--;
    }
    h.input.assign(data, data + size);
    if (piece != 0) h.readSize = [piece](uint32_t asked) { return asked < piece ? asked : piece; };
    ZipArchive* archive = memzip::NewArchive();
    const memzip::Result r = memzip::DeflateWith(archive, h);
    memzip::FreeArchive(archive);

    std::vector<uint8_t> back;
    if (r.error != 0 || r.dataWritten != r.output.size() || !memzip::Inflate(r.output, back) ||
        back != h.input)
        abort();
    return 0;
}
