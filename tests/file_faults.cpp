// File calls that fail on cue, preloaded into a tool, so that its care of its outputs is checked without root.
// SPDX-License-Identifier: MIT
// FILE_FAULT names the call that fails, on regular files only:
//   fsync       EIO
//   rename      EXDEV (across file systems)
//   renameat2   EINVAL (a file system without RENAME_NOREPLACE)
//   close       EIO, after closing, as NFS may report a failed write
//   write:N     ENOSPC once N bytes have been written to regular files
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool faultIs(const char* call) {
    const char* fault = std::getenv("FILE_FAULT");
    return fault != nullptr && std::strncmp(fault, call, std::strlen(call)) == 0;
}

bool isRegularFile(int descriptor) {
    struct stat status = {};
    return fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode);
}

template <typename Function>
Function* findReal(const char* name) {
    return reinterpret_cast<Function*>(dlsym(RTLD_NEXT, name));
}

std::size_t writtenToFiles = 0;

}  // namespace

extern "C" {

int fsync(int descriptor) {
    if (faultIs("fsync") && isRegularFile(descriptor)) {
        errno = EIO;
        return -1;
    }
    return findReal<int(int)>("fsync")(descriptor);
}

int rename(const char* from, const char* into) {
    if (faultIs("rename") && !faultIs("renameat2")) {
        errno = EXDEV;
        return -1;
    }
    return findReal<int(const char*, const char*)>("rename")(from, into);
}

int renameat2(int fromFolder, const char* from, int toFolder, const char* into, unsigned int flags) {
    if (faultIs("renameat2")) {
        errno = EINVAL;
        return -1;
    }
    return findReal<int(int, const char*, int, const char*, unsigned int)>("renameat2")(fromFolder, from, toFolder,
                                                                                        into, flags);
}

int close(int descriptor) {
    const bool fails = faultIs("close") && isRegularFile(descriptor) && (fcntl(descriptor, F_GETFL) & O_ACCMODE) != 0;
    const int result = findReal<int(int)>("close")(descriptor);
    if (fails && result == 0) {
        errno = EIO;
        return -1;
    }
    return result;
}

ssize_t write(int descriptor, const void* bytes, size_t count) {
    if (faultIs("write:") && isRegularFile(descriptor)) {
        const std::size_t limit = std::strtoull(std::getenv("FILE_FAULT") + 6, nullptr, 10);
        if (writtenToFiles + count > limit) {
            count = limit - writtenToFiles;
            if (count == 0) {
                errno = ENOSPC;
                return -1;
            }
        }
        writtenToFiles += count;
    }
    return findReal<ssize_t(int, const void*, size_t)>("write")(descriptor, bytes, count);
}
}
