// torvane-databuilder: turns the text sources of the sample data set into the
// program folder's workbooks, pictures and program package.
//
//   parameter --table T.csv --options O.csv --out Parameter/TYPE.xls
//   language  --source L.csv --out Language/language.xls
//   function  --list F.csv --table T.csv --options O.csv --out-dir Function
//   program   --models M.csv --images I.csv --calibration DIR
//             --staging DIR --zip ProgramFile.zip --package ProgramFile.vkr
//   invert    IN OUT       (package form <-> plain zip; the same operation)
//
// Exit status 0 on success; otherwise one line on stderr saying what is wrong
// and where, and nothing half-written is left as the output.
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "SampleData.h"
#include "SourceText.h"

using namespace databuild;

namespace {

bool Options(int argc, char** argv, std::map<std::string, std::string>& out,
             std::initializer_list<const char*> needed, std::string& error) {
    for (int i = 2; i < argc; i += 2) {
        std::string key = argv[i];
        if (key.rfind("--", 0) != 0 || i + 1 >= argc) {
            error = "expected --option value pairs, got " + key;
            return false;
        }
        out[key.substr(2)] = argv[i + 1];
    }
    for (const char* n : needed)
        if (!out.count(n)) {
            error = std::string("missing --") + n;
            return false;
        }
    return true;
}

// Writes through a temporary name so a failed step leaves no output file that
// a build could mistake for a finished one.
bool Commit(const std::string& tmp, const std::string& final, std::string& error) {
    std::error_code ec;
    std::filesystem::rename(tmp, final, ec);
    if (ec) error = final + ": " + ec.message();
    return !ec;
}

int Run(int argc, char** argv, std::string& error) {
    if (argc < 2) {
        error = "usage: torvane-databuilder parameter|language|function|program|invert ...";
        return 2;
    }
    std::string cmd = argv[1];
    std::map<std::string, std::string> o;
    if (cmd == "parameter") {
        if (!Options(argc, argv, o, {"table", "options", "out"}, error)) return 2;
        ParameterSource src;
        if (!LoadParameterSource(o["table"], o["options"], src, error)) return 1;
        // The device type is the file's base name; write under a temporary
        // name in another folder so C2 still gets the final base name.
        std::string tmpDir = o["out"] + ".tmp.d";
        std::filesystem::create_directories(tmpDir);
        std::string tmp = tmpDir + "/" + std::filesystem::path(o["out"]).filename().string();
        bool ok = WriteParameterBook(src, tmp, error) && Commit(tmp, o["out"], error);
        std::filesystem::remove_all(tmpDir);
        return ok ? 0 : 1;
    }
    if (cmd == "language") {
        if (!Options(argc, argv, o, {"source", "out"}, error)) return 2;
        std::vector<LanguageEntry> entries;
        if (!LoadLanguageSource(o["source"], entries, error)) return 1;
        std::string tmp = o["out"] + ".tmp";
        return WriteLanguageBook(entries, tmp, error) && Commit(tmp, o["out"], error) ? 0 : 1;
    }
    if (cmd == "function") {
        if (!Options(argc, argv, o, {"list", "table", "options", "out-dir"}, error)) return 2;
        ParameterSource src;
        std::vector<FunctionDef> functions;
        if (!LoadParameterSource(o["table"], o["options"], src, error)) return 1;
        if (!LoadFunctionSources(o["list"], src, functions, error)) return 1;
        std::filesystem::create_directories(o["out-dir"]);
        return WriteFunctionSet(functions, o["out-dir"], error) ? 0 : 1;
    }
    if (cmd == "program") {
        if (!Options(argc, argv, o,
                     {"models", "images", "calibration", "staging", "zip", "package"}, error))
            return 2;
        std::vector<ModelRow> models;
        std::vector<ImageSpec> images;
        if (!LoadModelSource(o["models"], models, error)) return 1;
        if (!LoadImageSource(o["images"], images, error)) return 1;
        if (!BuildProgramFolder(models, images, o["calibration"], o["staging"], error)) return 1;
        std::string tmpZip = o["zip"] + ".tmp";
        std::filesystem::remove(tmpZip);
        if (!ZipFolder(o["staging"], "ProgramFile", tmpZip, error) ||
            !Commit(tmpZip, o["zip"], error))
            return 1;
        std::string bytes;
        if (!ReadFileBytes(o["zip"], bytes, error)) return 1;
        InvertPackage(bytes);
        std::filesystem::create_directories(std::filesystem::path(o["package"]).parent_path());
        std::string tmp = o["package"] + ".tmp";
        return WriteFileBytes(tmp, bytes, error) && Commit(tmp, o["package"], error) ? 0 : 1;
    }
    if (cmd == "invert") {
        if (argc != 4) {
            error = "usage: torvane-databuilder invert IN OUT";
            return 2;
        }
        std::string bytes;
        if (!ReadFileBytes(argv[2], bytes, error)) return 1;
        InvertPackage(bytes);
        return WriteFileBytes(argv[3], bytes, error) ? 0 : 1;
    }
    error = "unknown step " + cmd;
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    int rc;
    try {
        rc = Run(argc, argv, error);
    } catch (const std::exception& e) {
        error = e.what();
        rc = 1;
    }
    if (rc != 0) std::fprintf(stderr, "torvane-databuilder: %s\n", error.c_str());
    return rc;
}
