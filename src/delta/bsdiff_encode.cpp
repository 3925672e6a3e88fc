// Making a bsdiff delta: Debian's encoder, run as a function (glue/), with
// its output beside the delta's place until it is whole.
#include <mutex>

#include "delta/bsdiff_delta.h"
#include "delta/glue/bsdiff_program.h"
#include "delta/vcdiff_stream.h"
#include "platform/file_system.h"

extern "C" FILE* vantorel_bsdiff_open_file(const char* path, const char* mode) {
    return fs_port::OpenFile(path, mode);
}

extern "C" int vantorel_bsdiff_seek_file(FILE* file, int64_t offset, int origin) {
    return fs_port::SeekFile(file, offset, origin) ? 0 : -1;
}

extern "C" int64_t vantorel_bsdiff_tell_file(FILE* file) { return fs_port::TellFile(file); }

namespace {

// The encoder keeps its run in globals: one run at a time.
std::mutex g_encoderRun;

std::string MiB(int64_t bytes) { return std::to_string(bytes >> 20) + " MiB"; }

}  // namespace

DeltaResult EncodeBsdiffFile(const std::string& sourcePath, const std::string& targetPath,
                             const std::string& deltaPath) {
    const int64_t sourceSize = fs_port::FileSize(sourcePath);
    const int64_t targetSize = fs_port::FileSize(targetPath);
    if (sourceSize < 0) {
        return DeltaFailure(DeltaFault::SourceUnreadable,
                            "cannot read the old file " + fs_port::NativePath(sourcePath));
    }
    if (targetSize < 0) {
        return DeltaFailure(DeltaFault::TargetUnreadable,
                            "cannot read the new file " + fs_port::NativePath(targetPath));
    }
    if (sourceSize > kBsdiffMaxFileBytes || targetSize > kBsdiffMaxFileBytes) {
        return DeltaFailure(DeltaFault::Unsupported, "bsdiff takes files up to " + MiB(kBsdiffMaxFileBytes) +
                                                         " (it needs about 9 times the old file in memory)");
    }
    PartFile out(deltaPath);
    if (!out.File()) {
        return DeltaFailure(DeltaFault::WriteFailed, "cannot create " + fs_port::NativePath(deltaPath) + ".part");
    }
    char message[512];
    {
        const std::lock_guard<std::mutex> lock(g_encoderRun);
        if (vantorel_bsdiff_run(sourcePath.c_str(), targetPath.c_str(), (deltaPath + ".part").c_str(), message,
                                sizeof message) != 0) {
            return DeltaFailure(DeltaFault::WriteFailed, std::string("bsdiff failed: ") + message);
        }
    }
    const int64_t written = fs_port::FileSize(deltaPath + ".part");
    if (written < 0 || !out.Commit()) {
        return DeltaFailure(DeltaFault::WriteFailed, "cannot write " + fs_port::NativePath(deltaPath));
    }
    return DeltaResult{true, std::string(), written, DeltaFault::None};
}
