// Runs stopped at any moment, as a kill or a power cut stops them: the copy
// is ended by TerminateProcess (nothing cleaned up) after a given amount of
// work, counted at the program's seams (each open and deletion of a walk,
// each step, each report of the archive's progress, each read of its
// verification). After each stop every data file must be in the folder or in
// an archive under a final name that verifies and holds it unchanged; then a
// second run of the real program must finish the uninstall, and that must
// still hold. The points are drawn from KIVO_STOP_SEED, KIVO_STOP_POINTS of
// them (a handful by default), dense in the Files step.
#include "bench/bench.h"
#include "driver/catalogue.h"
#include "driver/stages.h"
#include "e2e/sample_install.h"
#include "e2e/stop_work.h"
#include "zip/crc32.h"
#include "zip/zip_verify.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <random>

namespace e2e {

namespace {

const char* const STOPPER = "C:\\Tools\\uninstKIVO.exe";

// Where a run is stopped: offset units after a phase began, or at unit
// offset of the run when the phase is 0.
struct StopPoint {
    LONG phase;
    LONG offset;
    const char* where;
};
StopWork* work = nullptr;

//--- the data and what must hold of it

struct Entry {
    uint32_t crc;
    uint64_t size;
};

uint32_t Crc(const std::string& bytes) {
    return Crc32Update(0, reinterpret_cast<const uint8_t*>(bytes.data()), uint32_t(bytes.size()));
}

// The sample installation's data and a few thousand files more, the same for
// every run of one seed.
std::vector<DataFile> LayOutStoppable(uint32_t seed) {
    FreshInstallation();
    static std::vector<std::string> names;
    names.reserve(2500);
    std::vector<DataFile> data = DataFiles();
    std::mt19937 random(seed);
    for (size_t i = 0; i < 2500; ++i) {
        const std::string folder = std::string(INSTALL_FOLDER) + "\\Bulk\\d" + std::to_string(i / 60);
        if (names.size() == i)
            names.push_back(folder.substr(std::strlen(INSTALL_FOLDER) + 1) + "\\f" + std::to_string(i) +
                            ".dat");
        std::string bytes(random() % 4000, '\0');
        for (char& c : bytes)
            c = "KIVO data 0123456789\r\n"[random() % 22];
        if (i % 60 == 0) bench::MakeFolders(folder);
        EXPECT_TRUE(bench::WriteFileBytes(std::string(INSTALL_FOLDER) + "\\" + names[i], bytes));
        data.push_back({names[i].c_str(), bytes});
    }
    return data;
}

// The entries of an archive's central directory by stored name; false when
// it has none that a reader would find.
bool ListArchive(const std::string& bytes, std::vector<std::pair<std::string, Entry>>& entries) {
    const size_t end = bytes.rfind(std::string("PK\5\6", 4));
    if (end == std::string::npos || end + 22 > bytes.size()) return false;
    auto u16 = [&](size_t at) {
        return uint32_t(uint8_t(bytes[at])) | uint32_t(uint8_t(bytes[at + 1])) << 8;
    };
    auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
    size_t at = u32(end + 16);
    for (uint32_t i = 0, count = u16(end + 10); i < count; ++i) {
        if (at + 46 > bytes.size() || u32(at) != 0x02014b50) return false;
        const size_t nameLength = u16(at + 28);
        entries.push_back({bytes.substr(at + 46, nameLength), Entry{u32(at + 16), u32(at + 24)}});
        at += 46 + nameLength + u16(at + 30) + u16(at + 32);
    }
    return true;
}

std::vector<std::string> FinalArchives() {
    std::vector<std::string> names;
    for (const std::string& archive : ArchivesAtRoot('C'))
        if (archive.find(".partial") == std::string::npos) names.push_back(archive);
    return names;
}

// Every archive under a final name verifies; every data file is in the
// folder unchanged or in one of them with its size and CRC-32.
void ExpectDataSafe(const std::vector<DataFile>& data, const std::string& when) {
    std::map<std::string, Entry> held;
    for (const std::string& archive : FinalArchives()) {
        std::string bytes;
        std::vector<std::pair<std::string, Entry>> entries;
        ASSERT_TRUE(bench::ReadFileBytes(archive, bytes) && ListArchive(bytes, entries)) << when << archive;
        std::vector<ZipVerifyExpected> expected;
        for (const auto& entry : entries)
            expected.push_back(
                {entry.first.data(), uint32_t(entry.first.size()), entry.second.crc, entry.second.size});
        ASSERT_EQ(
            ZipVerifyArchiveFile(bench::Wide(archive).c_str(), expected.data(), uint32_t(expected.size())), 0)
            << when << archive << " is under a final name but incomplete";
        held.insert(entries.begin(), entries.end());
    }
    int lost = 0;
    for (const DataFile& file : data) {
        std::string bytes, stored = std::string("KIVO/") + file.path;
        for (char& c : stored)
            if (c == '\\') c = '/';
        if (bench::ReadFileBytes(std::string(INSTALL_FOLDER) + "\\" + file.path, bytes) &&
            bytes == file.bytes)
            continue;
        const auto found = held.find(stored);
        if (found != held.end() && found->second.crc == Crc(file.bytes) &&
            found->second.size == file.bytes.size())
            continue;
        if (++lost <= 5) ADD_FAILURE() << when << file.path << " is neither in the folder nor in an archive";
    }
    EXPECT_EQ(lost, 0) << when;
}

long RunStopper(const StopPoint& point, UINT code, const std::string& log) {
    std::string program;
    EXPECT_TRUE(bench::ReadFileBytes("C:\\kivo\\stopped_run.exe", program));
    bench::MakeFolders("C:\\Tools");
    EXPECT_TRUE(bench::WriteFileBytes(STOPPER, program));
    *work = StopWork{0, point.phase == 0 ? point.offset : 0, code, point.phase, point.offset, 0, {}};
    bench::Process run = bench::Start(std::string(STOPPER) + " /S /log=" + log, "C:\\Tools");
    const long ended = bench::WaitExit(run, 300000);
    bench::Close(run);
    return ended;
}

// The real program, as a person would start it again: from the installation
// folder while its copy is there, otherwise a copy from elsewhere.
long RunAgain(const std::string& log) {
    const std::string program = std::string(INSTALL_FOLDER) + "\\uninstKIVO.exe";
    const std::string switches = "/S /log=" + log;
    bench::Process run = bench::Start(
        bench::Exists(program) ? "\"" + program + "\" " + switches : SecondStageCommand(switches), "C:\\");
    const long code = bench::WaitExit(run, 300000);
    bench::Close(run);
    return code;
}

} // namespace

TEST(Stops, NoStopLosesDataAndASecondRunFinishes) {
    const char* seedText = std::getenv("KIVO_STOP_SEED");
    const char* pointsText = std::getenv("KIVO_STOP_POINTS");
    const uint32_t seed = seedText != nullptr ? uint32_t(std::strtoul(seedText, nullptr, 10)) : 23;
    const int points = pointsText != nullptr ? std::atoi(pointsText) : 8;
    HANDLE shared = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(StopWork),
                                       STOP_WORK_NAME);
    ASSERT_NE(shared, nullptr);
    work = static_cast<StopWork*>(MapViewOfFile(shared, FILE_MAP_WRITE, 0, 0, sizeof(StopWork)));
    ASSERT_NE(work, nullptr);
    bench::MakeFolders("C:\\logs");

    // A whole run, counted: where its phases begin.
    std::vector<DataFile> data = LayOutStoppable(seed);
    const long counted = RunStopper(StopPoint{0, 0, ""}, 0, "C:\\logs\\counted.txt");
    std::string log;
    bench::ReadFileBytes("C:\\logs\\counted.txt", log);
    ASSERT_EQ(counted, 0) << log;
    ExpectDataSafe(data, "counted run: ");
    const StopWork whole = *work;
    const LONG* at = whole.phaseAt;
    ASSERT_TRUE(whole.stepsBegun == PHASE_ENDED && at[PHASE_ARCHIVING] > at[PHASE_FILES] &&
                at[PHASE_WRITTEN] > at[PHASE_ARCHIVING] && at[PHASE_VERIFIED] > at[PHASE_WRITTEN] &&
                at[PHASE_ENDED] > at[PHASE_VERIFIED] + 2)
        << "the counted run's phases are out of order";
    std::printf("seed %u: %ld units; Files step from %ld, archiving from %ld, verification from %ld, renamed "
                "after %ld, Ended from %ld\n",
                seed, whole.done, at[PHASE_FILES], at[PHASE_ARCHIVING], at[PHASE_WRITTEN], at[PHASE_VERIFIED],
                at[PHASE_ENDED]);

    // Each phase once, then more points, most of them in the Files step.
    std::mt19937 random(seed);
    auto within = [&](LONG first, LONG last) { return first + LONG(random() % uint32_t(last - first + 1)); };
    auto length = [&](int phase, int next) { return at[next] - at[phase]; };
    std::vector<StopPoint> chosen = {
        {0, within(1, at[PHASE_FILES]), "before the Files step"},
        {PHASE_FILES, within(1, std::min<LONG>(20, length(PHASE_FILES, PHASE_ARCHIVING))), "program files"},
        {PHASE_ARCHIVING, within(1, length(PHASE_ARCHIVING, PHASE_WRITTEN)), "archiving"},
        {PHASE_WRITTEN, within(1, length(PHASE_WRITTEN, PHASE_VERIFIED)), "verification"},
        {PHASE_VERIFIED, 1, "before the rename"},
        {PHASE_VERIFIED, 2, "after the rename"},
        {PHASE_VERIFIED, within(3, length(PHASE_VERIFIED, PHASE_ENDED)), "deletions"},
        {PHASE_ENDED, 1, "after the Files step"}};
    chosen.resize(size_t(std::min<int>(points, int(chosen.size()))));
    while (int(chosen.size()) < points) {
        const int phase = std::vector<int>{0, PHASE_ARCHIVING, PHASE_WRITTEN, PHASE_VERIFIED}[random() % 4];
        const int next = phase == PHASE_VERIFIED ? PHASE_ENDED : phase + 1;
        chosen.push_back({phase, phase == 0 ? within(1, whole.done) : within(1, length(phase, next)),
                          phase == 0 ? "anywhere" : "in the Files step"});
    }

    for (size_t i = 0; i < chosen.size(); ++i) {
        const std::string at = "stop " + std::to_string(i) + " (" + chosen[i].where + ", unit " +
                               std::to_string(chosen[i].offset) + " of phase " +
                               std::to_string(chosen[i].phase) + "): ";
        data = LayOutStoppable(seed);
        // A kill's code, or 0 as a deployment tool's time-out may leave it.
        const UINT code = i % 2 == 0 ? 99 : 0;
        const long stopped = RunStopper(chosen[i], code, "C:\\logs\\stopped.txt");
        ExpectDataSafe(data, at);
        const bool folderLeft = bench::Exists(INSTALL_FOLDER);
        const bool reached = work->stopAt != 0 && work->done >= work->stopAt;
        // Stopped with 0, the copy is still not taken for one that finished.
        EXPECT_EQ(stopped, !reached ? 0 : code != 0 ? long(code) : folderLeft ? 1603 : 0) << at;
        const std::vector<std::string> stoppedRunArchives = FinalArchives();
        DeleteFileA("C:\\logs\\again.txt");
        // Once the folder is gone nothing names the installation any more.
        const long again = RunAgain("C:\\logs\\again.txt");
        EXPECT_EQ(again, folderLeft ? 0 : 1) << at;
        std::printf("%sthe copy ended with %ld after %ld units, %s; the second run with %ld\n", at.c_str(),
                    stopped, work->done, folderLeft ? "the folder stayed" : "the folder was gone", again);
        ExpectDataSafe(data, at + "after the second run: ");
        EXPECT_FALSE(bench::Exists(INSTALL_FOLDER)) << at;
        EXPECT_FALSE(bench::RegKeyExists(HKEY_LOCAL_MACHINE,
                                         "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KIVO"))
            << at;
        EXPECT_FALSE(bench::RegKeyExists(HKEY_CLASSES_ROOT, ".KVO")) << at;
        EXPECT_EQ(FinalArchives(), ArchivesAtRoot('C')) << at << "a partial archive stayed";
        // The run that finished names the stopped run's archive: the data that
        // run deleted is only there.
        bench::ReadFileBytes("C:\\logs\\again.txt", log);
        for (const std::string& archive : folderLeft ? stoppedRunArchives : std::vector<std::string>())
            EXPECT_NE(log.find("message, not shown: " +
                               bench::Utf8(CatalogueText(MSG_FILES_ARCHIVED, ChooseLanguage())) + " " +
                               archive + " "),
                      std::string::npos)
                << at << archive;
        if (HasFailure()) {
            std::printf("%sthe second run's log:\n%s\n", at.c_str(), log.c_str());
            return;
        }
    }
    UnmapViewOfFile(work);
    CloseHandle(shared);
}

} // namespace e2e
