#include "tests/sdk/measurement/storage/FaultInjectionVfs.h"

#include <sqlite3.h>

#include <cassert>
#include <cstring>
#include <new>
#include <stdexcept>

namespace {

FaultInjectionVfs* active = nullptr;  // the one instance alive, if any
sqlite3_vfs* realVfs = nullptr;
sqlite3_vfs wrapperVfs;

struct FaultFile {
    sqlite3_file base;
    std::string* path;  // null for files without a name
    sqlite3_file* real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};

FaultFile* asFault(sqlite3_file* file) {
    return reinterpret_cast<FaultFile*>(file);
}

const sqlite3_io_methods* realMethods(sqlite3_file* file) {
    return asFault(file)->real()->pMethods;
}

std::string readWhole(sqlite3_file* real) {
    sqlite3_int64 size = 0;
    if (real->pMethods->xFileSize(real, &size) != SQLITE_OK || size <= 0) {
        return {};
    }
    std::string content(static_cast<std::size_t>(size), '\0');
    real->pMethods->xRead(real, content.data(), static_cast<int>(size), 0);
    return content;
}

int xClose(sqlite3_file* file) {
    FaultFile* f = asFault(file);
    const int result = f->real()->pMethods->xClose(f->real());
    delete f->path;
    f->path = nullptr;
    return result;
}
int xRead(sqlite3_file* file, void* buffer, int amount, sqlite3_int64 offset) {
    return realMethods(file)->xRead(asFault(file)->real(), buffer, amount, offset);
}
int xWrite(sqlite3_file* file, const void* buffer, int amount, sqlite3_int64 offset) {
    if (active->shouldFail(FaultInjectionVfs::Operation::kWrite)) {
        return SQLITE_IOERR_WRITE;
    }
    return realMethods(file)->xWrite(asFault(file)->real(), buffer, amount, offset);
}
int xTruncate(sqlite3_file* file, sqlite3_int64 size) {
    return realMethods(file)->xTruncate(asFault(file)->real(), size);
}
int xSync(sqlite3_file* file, int flags) {
    if (active->shouldFail(FaultInjectionVfs::Operation::kSync)) {
        return SQLITE_IOERR_FSYNC;
    }
    FaultFile* f = asFault(file);
    const int result = realMethods(file)->xSync(f->real(), flags);
    if (result == SQLITE_OK && f->path != nullptr) {
        active->recordSync(*f->path, readWhole(f->real()));
    }
    return result;
}
int xFileSize(sqlite3_file* file, sqlite3_int64* size) {
    return realMethods(file)->xFileSize(asFault(file)->real(), size);
}
int xLock(sqlite3_file* file, int lock) {
    return realMethods(file)->xLock(asFault(file)->real(), lock);
}
int xUnlock(sqlite3_file* file, int lock) {
    return realMethods(file)->xUnlock(asFault(file)->real(), lock);
}
int xCheckReservedLock(sqlite3_file* file, int* result) {
    return realMethods(file)->xCheckReservedLock(asFault(file)->real(), result);
}
int xFileControl(sqlite3_file* file, int op, void* argument) {
    return realMethods(file)->xFileControl(asFault(file)->real(), op, argument);
}
int xSectorSize(sqlite3_file* file) {
    return realMethods(file)->xSectorSize(asFault(file)->real());
}
int xDeviceCharacteristics(sqlite3_file* file) {
    return realMethods(file)->xDeviceCharacteristics(asFault(file)->real());
}
int xShmMap(sqlite3_file* file, int region, int size, int extend, void volatile** memory) {
    return realMethods(file)->xShmMap(asFault(file)->real(), region, size, extend, memory);
}
int xShmLock(sqlite3_file* file, int offset, int n, int flags) {
    return realMethods(file)->xShmLock(asFault(file)->real(), offset, n, flags);
}
void xShmBarrier(sqlite3_file* file) {
    realMethods(file)->xShmBarrier(asFault(file)->real());
}
int xShmUnmap(sqlite3_file* file, int deleteFlag) {
    return realMethods(file)->xShmUnmap(asFault(file)->real(), deleteFlag);
}
int xFetch(sqlite3_file* file, sqlite3_int64 offset, int amount, void** pointer) {
    return realMethods(file)->xFetch(asFault(file)->real(), offset, amount, pointer);
}
int xUnfetch(sqlite3_file* file, sqlite3_int64 offset, void* pointer) {
    return realMethods(file)->xUnfetch(asFault(file)->real(), offset, pointer);
}

const sqlite3_io_methods kMethods = {
    3,
    xClose,
    xRead,
    xWrite,
    xTruncate,
    xSync,
    xFileSize,
    xLock,
    xUnlock,
    xCheckReservedLock,
    xFileControl,
    xSectorSize,
    xDeviceCharacteristics,
    xShmMap,
    xShmLock,
    xShmBarrier,
    xShmUnmap,
    xFetch,
    xUnfetch,
};

int xOpen(sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* outFlags) {
    FaultFile* f = asFault(file);
    f->base.pMethods = nullptr;
    f->path = nullptr;
    const int result = realVfs->xOpen(realVfs, name, f->real(), flags, outFlags);
    // SQLite closes a file whose methods are set even when opening failed.
    if (f->real()->pMethods != nullptr) {
        f->path = name != nullptr ? new std::string(name) : nullptr;
        f->base.pMethods = &kMethods;
    }
    return result;
}
int xDelete(sqlite3_vfs*, const char* name, int syncDirectory) {
    active->forget(name);
    return realVfs->xDelete(realVfs, name, syncDirectory);
}
int xAccess(sqlite3_vfs*, const char* name, int flags, int* result) {
    return realVfs->xAccess(realVfs, name, flags, result);
}
int xFullPathname(sqlite3_vfs*, const char* name, int size, char* out) {
    return realVfs->xFullPathname(realVfs, name, size, out);
}
int xRandomness(sqlite3_vfs*, int size, char* out) {
    return realVfs->xRandomness(realVfs, size, out);
}
int xSleep(sqlite3_vfs*, int microseconds) {
    return realVfs->xSleep(realVfs, microseconds);
}
int xCurrentTime(sqlite3_vfs*, double* now) {
    return realVfs->xCurrentTime(realVfs, now);
}
int xGetLastError(sqlite3_vfs*, int size, char* out) {
    return realVfs->xGetLastError(realVfs, size, out);
}
int xCurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* now) {
    return realVfs->xCurrentTimeInt64(realVfs, now);
}

}  // namespace

FaultInjectionVfs::FaultInjectionVfs() {
    if (active != nullptr) {
        throw std::logic_error("one FaultInjectionVfs at a time");
    }
    sqlite3_initialize();
    realVfs = sqlite3_vfs_find("unix");
    std::memset(&wrapperVfs, 0, sizeof wrapperVfs);
    wrapperVfs.iVersion = 2;
    wrapperVfs.szOsFile = static_cast<int>(sizeof(FaultFile)) + realVfs->szOsFile;
    wrapperVfs.mxPathname = realVfs->mxPathname;
    wrapperVfs.zName = "cb-fault-injection";
    wrapperVfs.xOpen = xOpen;
    wrapperVfs.xDelete = xDelete;
    wrapperVfs.xAccess = xAccess;
    wrapperVfs.xFullPathname = xFullPathname;
    wrapperVfs.xRandomness = xRandomness;
    wrapperVfs.xSleep = xSleep;
    wrapperVfs.xCurrentTime = xCurrentTime;
    wrapperVfs.xGetLastError = xGetLastError;
    wrapperVfs.xCurrentTimeInt64 = xCurrentTimeInt64;
    active = this;
    sqlite3_vfs_register(&wrapperVfs, 1);
}

FaultInjectionVfs::~FaultInjectionVfs() {
    sqlite3_vfs_unregister(&wrapperVfs);
    sqlite3_vfs_register(realVfs, 1);
    active = nullptr;
}

void FaultInjectionVfs::failAt(Operation operation, std::uint64_t n, bool persistent) {
    failOperation_ = operation;
    failAt_ = n;
    persistent_ = persistent;
    failed_ = false;
    writes_ = 0;
    syncs_ = 0;
}

void FaultInjectionVfs::disarm() {
    failAt(Operation::kWrite, 0, false);
}

bool FaultInjectionVfs::shouldFail(Operation operation) {
    const std::uint64_t count = operation == Operation::kWrite ? ++writes_ : ++syncs_;
    if (failAt_ == 0 || operation != failOperation_) {
        return false;
    }
    const bool fail = persistent_ ? count >= failAt_ : count == failAt_;
    failed_ = failed_ || fail;
    return fail;
}

void FaultInjectionVfs::recordSync(const std::string& path, std::string content) {
    synced_[path] = std::move(content);
    states_.push_back(synced_);
}

void FaultInjectionVfs::forget(const std::string& path) {
    synced_.erase(path);
}
