// Benchmark of the workbook layer (TorvaneWorkbook): a history-shaped sheet
// (as the monitor history lays it out: three header rows of texts, numbers and booleans, then one row
// of 11 numbers per sample) written and read back, for 1000 rows (the
// monitor's automatic save, which runs under the sample store's lock) and
// 10000 rows (a full store); the same sheet through xlwt and xlrd on Debian's
// /usr/bin/python3 for comparison, in the same run.
//
//   bench_workbook [folder]     (default: the system's temporary folder)
#include "Workbook.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

std::wstring wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }  // ASCII paths

double value(int k, int j) { return static_cast<float>(k * 0.37 + j * 1.1); }  // single precision, widened

// Builds the sheet and saves it: what SaveRange of the sample store does.
bool writeHistory(int rows, const std::wstring& path, double& buildMs, double& saveMs) {
    const auto t0 = Clock::now();
    xls::Book* book = xlCreateBookW();
    xls::Sheet* s = book->addSheet(L"Sheet1");
    s->writeStr(0, 0, L"VKR-7.5G");
    s->writeStr(1, 0, L"1sec");
    s->writeStr(2, 0, L"1700000000000");
    for (int j = 1; j <= 10; ++j) {
        s->writeStr(0, j, (L"信号" + std::to_wstring(j) + L",Signal " + std::to_wstring(j)).c_str());
        s->writeNum(1, j, 1000 + j);
        s->writeBool(2, j, j % 3 != 0);
    }
    for (int k = 1; k <= rows; ++k) {
        s->writeNum(k + 2, 0, k);
        for (int j = 1; j <= 10; ++j) s->writeNum(k + 2, j, value(k, j));
    }
    buildMs = msSince(t0);
    const auto t1 = Clock::now();
    bool ok = book->save(path.c_str());
    if (!ok) std::fprintf(stderr, "save failed: %s\n", book->errorMessage());
    book->release();
    saveMs = msSince(t1);
    return ok;
}

// Loads the file and reads every cell the way the history viewer does.
bool readHistory(int rows, const std::wstring& path) {
    xls::Book* book = xlCreateBookW();
    bool ok = book->load(path.c_str());
    if (ok) {
        xls::Sheet* s = book->getSheet(0);
        double sum = 0;
        for (int j = 0; j <= 10; ++j) {
            if (const wchar_t* t = s->readStr(0, j)) sum += t[0];
            sum += s->readNum(1, j) + s->readBool(2, j);
        }
        for (int r = 3; r < rows + 3; ++r)
            for (int j = 0; j <= 10; ++j) sum += s->readNum(r, j);
        ok = s->lastRow() == rows + 3 && sum != 0;
    } else {
        std::fprintf(stderr, "load failed: %s\n", book->errorMessage());
    }
    book->release();
    return ok;
}

// Time of writing `bytes` bytes to a new file and flushing it to disk, the
// part of a save that the disk decides.
double fsyncOnceMs(const std::string& path, const std::vector<char>& data) {
    const auto t0 = Clock::now();
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return -1;
    bool ok = ::write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size());
    ok = ::fsync(fd) == 0 && ok;
    ::close(fd);
    ::unlink(path.c_str());
    return ok ? msSince(t0) : -1;
}

double fsyncMs(const std::string& path, std::size_t bytes) {  // best of 10
    std::vector<char> data(bytes, 'x');
    double best = 1e9;
    for (int i = 0; i < 10; ++i) best = std::min(best, fsyncOnceMs(path, data));
    return best;
}

struct Figures {
    double build = 1e9, save = 1e9, write = 1e9, read = 1e9;
    long bytes = 0;
};

Figures measure(int rows, const std::string& path, int repeats) {
    Figures f;
    for (int i = 0; i < repeats; ++i) {
        double b, s;
        if (!writeHistory(rows, wide(path), b, s)) std::exit(1);
        f.build = std::min(f.build, b);
        f.save = std::min(f.save, s);
        f.write = std::min(f.write, b + s);
        const auto t0 = Clock::now();
        if (!readHistory(rows, wide(path))) std::exit(1);
        f.read = std::min(f.read, msSince(t0));
    }
    if (FILE* fp = std::fopen(path.c_str(), "rb")) {
        std::fseek(fp, 0, SEEK_END);
        f.bytes = std::ftell(fp);
        std::fclose(fp);
    }
    return f;
}

bool python(int rows, const std::string& path, int repeats, double& xlwtMs, double& xlrdMs) {
    std::string cmd = std::string("/usr/bin/python3 '") + BENCH_XLWT_SCRIPT + "' " + std::to_string(rows) + " '" + path +
                      "' " + std::to_string(repeats);
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return false;
    int got = std::fscanf(p, "xlwt %lf\nxlrd %lf", &xlwtMs, &xlrdMs);
    return ::pclose(p) == 0 && got == 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string dir = argc > 1 ? argv[1] : (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
    const std::string ours = dir + "/bench_workbook_" + std::to_string(::getpid()) + ".xls";
    const std::string theirs = dir + "/bench_workbook_xlwt_" + std::to_string(::getpid()) + ".xls";

    std::printf("Workbook layer: history-shaped sheet, 3 header rows + N sample rows x 11 columns; best of the runs\n\n");
    std::printf("%6s %10s %10s %10s %10s %10s %10s %10s %9s %9s\n", "rows", "bytes", "build ms", "save ms", "write ms",
                "read ms", "xlwt ms", "xlrd ms", "xlwt/us", "xlrd/us");
    for (int rows : {1000, 10000}) {
        const int repeats = rows <= 1000 ? 20 : 5;
        Figures f = measure(rows, ours, repeats);
        double xw = -1, xr = -1;
        bool py = python(rows, theirs, rows <= 1000 ? 5 : 2, xw, xr);
        std::printf("%6d %10ld %10.2f %10.2f %10.2f %10.2f", rows, f.bytes, f.build, f.save, f.write, f.read);
        if (py) std::printf(" %10.1f %10.1f %8.0fx %8.0fx\n", xw, xr, xw / f.write, xr / f.read);
        else std::printf("   (xlwt/xlrd not available on /usr/bin/python3)\n");
        if (rows == 1000) {
            std::printf("       %s: writing 1000 rows takes %.2f ms (aim: well under 20 ms); "
                        "for comparison, a plain write + fsync of %ld bytes here takes %.2f ms\n",
                        f.write < 20 ? "ok" : "SLOW", f.write, f.bytes, fsyncMs(ours + ".raw", static_cast<std::size_t>(f.bytes)));
        }
    }
    std::printf("\nbuild = creating the book and writing the cells; save = BIFF8 + container + temporary file, fsync, rename;\n"
                "write = build + save; read = load (container check, BIFF scan, FreeXL) + reading every cell.\n");
    ::unlink(ours.c_str());
    ::unlink(theirs.c_str());
    return 0;
}
