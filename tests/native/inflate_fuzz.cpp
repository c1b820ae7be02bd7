// libFuzzer target: hostile streams for the inflater, with zlib's inflate as
// the oracle: both accept or both refuse a stream, and when they accept it
// they give the same bytes and end it at the same input byte. The first byte
// chooses the piece size the rest is handed over in. Output beyond 4 MiB is
// not looked at: past it, both must still be going with the same bytes.
#include "zip/inflate.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

constexpr size_t LIMIT = size_t(4) << 20;

struct Feed {
    const uint8_t* data;
    size_t size, at, piece;
    std::vector<uint8_t> out;
};

int32_t NextPiece(void* context, const uint8_t** chunk) {
    Feed& f = *static_cast<Feed*>(context);
    const size_t n = std::min(f.piece, f.size - f.at);
    *chunk = f.data + f.at;
    f.at += n;
    return int32_t(n);
}

bool TakeOutput(void* context, const uint8_t* bytes, uint32_t count) {
    Feed& f = *static_cast<Feed*>(context);
    f.out.insert(f.out.end(), bytes, bytes + count);
    return f.out.size() <= LIMIT;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::unique_ptr<InflateWork> work(new InflateWork);
    if (size == 0) return 0;
    Feed f{data + 1, size - 1, 0, data[0] < 128 ? 65536u : data[0] - 127u, {}};
    uint64_t consumed = 0;
    const int ours =
        InflateStream(work.get(), InflateInput{&f, NextPiece}, InflateOutput{&f, TakeOutput}, &consumed);

    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) abort();
    static std::vector<uint8_t> theirs(LIMIT + 65536);
    z.next_in = const_cast<Bytef*>(data + 1);
    z.avail_in = uInt(size - 1);
    z.next_out = theirs.data();
    z.avail_out = uInt(theirs.size());
    int rc;
    do
        rc = inflate(&z, Z_NO_FLUSH);
    while (rc == Z_OK && z.avail_out > 0 && z.avail_in > 0);
    const size_t produced = theirs.size() - z.avail_out;
    const bool theirsOk = rc == Z_STREAM_END, theirsOn = produced > LIMIT && rc == Z_OK;
    const uint64_t theirsConsumed = z.total_in;
    inflateEnd(&z);

    if (ours == INFLATE_STOPPED || theirsOn) {
        const size_t common = std::min(f.out.size(), produced);
        if (ours != INFLATE_STOPPED && ours != INFLATE_OK) abort();
        if (!theirsOn && !theirsOk) abort();
        if (common <= LIMIT || !std::equal(f.out.begin(), f.out.begin() + long(common), theirs.begin()))
            abort();
        return 0;
    }
    if ((ours == INFLATE_OK) != theirsOk) abort();
    if (theirsOk && (f.out.size() != produced || !std::equal(f.out.begin(), f.out.end(), theirs.begin()) ||
                     consumed != theirsConsumed))
        abort();
    return 0;
}
