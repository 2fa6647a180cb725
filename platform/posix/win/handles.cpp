// Kernel handles: files (the graph manager's log and whatever else writes through a HANDLE),
// events, and the few kernel calls that go with them.
//
// A HANDLE names an object in a process-wide table; a handle that is not in the table (never
// made, or closed) fails with ERROR_INVALID_HANDLE instead of being followed. An object stays
// alive while a call is using it, even if another thread closes its handle meanwhile.
//
// Share modes are enforced among the files this process opens through CreateFile, as Windows
// does: a file is known by its device and inode, so every name of it (a relative spelling, a
// symbolic link, a hard link) is the same file. An open that asks for access some open handle
// of the file does not share, or that does not share the access some open handle has, fails
// with ERROR_SHARING_VIOLATION; truncating (CREATE_ALWAYS over a file, TRUNCATE_EXISTING)
// counts as writing and happens only once the open has passed that test. Other processes are
// not bound by it: Linux has no mandatory file locks.
#include "platform/posix/win/files.h"

#include "platform/text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>

#define ERROR_NEGATIVE_SEEK 131u

namespace tw::posix {
namespace {

struct KernelObject {
    virtual ~KernelObject() = default;
};

// What an open handle of a file asks for and allows others, for the sharing test.
struct ShareEntry {
    dev_t dev;
    ino_t ino;
    bool read, write;              // access asked for (truncation counts as writing)
    bool share_read, share_write;  // what the handle lets other opens have
};

// Every open file handle's entry while its descriptor is open. Entries are added before a file
// is truncated and removed after its descriptor is closed, so no conflicting open slips in
// between.
std::mutex g_share_lock;  // guards g_shares
std::list<ShareEntry> g_shares;

bool conflicts(const ShareEntry &a, const ShareEntry &b) {
    return (a.read && !b.share_read) || (a.write && !b.share_write) || (b.read && !a.share_read) ||
           (b.write && !a.share_write);
}

// Registers `e` unless an open handle of the same file conflicts with it.
bool admit(const ShareEntry &e, std::list<ShareEntry>::iterator *where) {
    std::lock_guard<std::mutex> g(g_share_lock);
    if (e.read || e.write) {  // a handle without data access takes part in no sharing test
        for (const ShareEntry &o : g_shares)
            if (o.dev == e.dev && o.ino == e.ino && (o.read || o.write) && conflicts(e, o)) return false;
    }
    *where = g_shares.insert(g_shares.end(), e);
    return true;
}

void withdraw(std::list<ShareEntry>::iterator where) {
    std::lock_guard<std::mutex> g(g_share_lock);
    g_shares.erase(where);
}

struct FileObject final : KernelObject {
    FileObject(int f, std::list<ShareEntry>::iterator s) : fd(f), share(s) {}
    ~FileObject() override {
        close(fd);
        withdraw(share);
    }
    const int fd;
    const std::list<ShareEntry>::iterator share;
};

struct EventObject final : KernelObject {
    EventObject(bool manual_reset, bool initial) : manual(manual_reset), signalled(initial) {}
    const bool manual;
    std::mutex lock;
    std::condition_variable changed;
    bool signalled;  // guarded by lock
};

std::mutex g_lock;  // guards g_handles
std::unordered_map<HANDLE, std::shared_ptr<KernelObject>> g_handles;

HANDLE add_handle(std::shared_ptr<KernelObject> object) {
    HANDLE h = object.get();
    std::lock_guard<std::mutex> g(g_lock);
    g_handles[h] = std::move(object);
    return h;
}

std::shared_ptr<KernelObject> find_handle(HANDLE h) {
    std::lock_guard<std::mutex> g(g_lock);
    auto it = g_handles.find(h);
    return it == g_handles.end() ? nullptr : it->second;
}

template <class T>
std::shared_ptr<T> find_as(HANDLE h) {
    auto o = std::dynamic_pointer_cast<T>(find_handle(h));
    if (!o) SetLastError(ERROR_INVALID_HANDLE);
    return o;
}

bool parent_exists(const std::string &path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return true;  // relative to the working directory
    const std::string parent = slash == 0 ? "/" : path.substr(0, slash);
    struct stat st;
    return stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

DWORD error_for_open(int e, const std::string &path) {
    switch (e) {
    case ENOENT:
        return parent_exists(path) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EEXIST:
        return ERROR_FILE_EXISTS;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
    case ETXTBSY:
        return ERROR_ACCESS_DENIED;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case ENOSPC:
    case EDQUOT:
        return ERROR_DISK_FULL;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case ELOOP:
    case EINVAL:
        return ERROR_INVALID_NAME;
    default:
        return ERROR_ACCESS_DENIED;
    }
}

DWORD error_for_io(int e, bool writing) {
    switch (e) {
    case EBADF:
        return ERROR_ACCESS_DENIED;  // the handle was not opened for this direction
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return ERROR_DISK_FULL;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    default:
        return writing ? ERROR_WRITE_FAULT : ERROR_READ_FAULT;
    }
}

int open_flags(DWORD access) {
    const bool r = access & GENERIC_READ, w = access & GENERIC_WRITE;
    return (w ? (r ? O_RDWR : O_WRONLY) : O_RDONLY) | O_CLOEXEC;
}

// Opens path as CreateFile does, sharing test included; returns the descriptor (with its
// share entry in *share) or -1 with the last error set.
int open_file(const std::string &path, DWORD access, DWORD share_mode, DWORD disposition, DWORD attributes,
              std::list<ShareEntry>::iterator *share) {
    if (path.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return -1;
    }
    const int base = open_flags(access);
    const mode_t mode = (attributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
    bool existed = false;
    bool truncate = false;
    int fd = -1;
    switch (disposition) {
    case CREATE_NEW:
        fd = open(path.c_str(), base | O_CREAT | O_EXCL, mode);
        break;
    case CREATE_ALWAYS:
    case OPEN_ALWAYS:
        // Tells apart "made" from "was there" (ERROR_ALREADY_EXISTS on success), retrying if
        // the file comes or goes between the two attempts.
        for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
            fd = open(path.c_str(), base | O_CREAT | O_EXCL, mode);
            if (fd >= 0 || errno != EEXIST) break;
            fd = open(path.c_str(), base);
            if (fd >= 0) existed = true;
            else if (errno != ENOENT) break;
        }
        truncate = existed && disposition == CREATE_ALWAYS;
        break;
    case OPEN_EXISTING:
        fd = open(path.c_str(), base);
        break;
    case TRUNCATE_EXISTING:
        if (!(access & GENERIC_WRITE)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return -1;
        }
        fd = open(path.c_str(), base);
        truncate = true;
        break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    if (fd < 0) {
        SetLastError(error_for_open(errno, path));
        return -1;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {  // a directory is not a file to open
        close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return -1;
    }
    // The file is open but untouched: it is truncated only if the sharing test lets it. Devices
    // and pipes (/dev/null as a log, say) take part in no sharing test.
    const bool file = S_ISREG(st.st_mode);
    const ShareEntry entry{st.st_dev,
                           st.st_ino,
                           file && (access & GENERIC_READ),
                           file && ((access & GENERIC_WRITE) || truncate),
                           (share_mode & FILE_SHARE_READ) != 0,
                           (share_mode & FILE_SHARE_WRITE) != 0};
    if (!admit(entry, share)) {
        close(fd);
        SetLastError(ERROR_SHARING_VIOLATION);
        return -1;
    }
    if (truncate && file && ftruncate(fd, 0) != 0) {
        const int e = errno;
        close(fd);
        withdraw(*share);
        // A descriptor without write access cannot truncate (CREATE_ALWAYS with read access only).
        SetLastError(e == EINVAL || e == EBADF ? ERROR_ACCESS_DENIED : error_for_io(e, true));
        return -1;
    }
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return fd;
}

HANDLE create_file(const std::string &path, DWORD access, DWORD share_mode, DWORD disposition, DWORD attributes) {
    std::list<ShareEntry>::iterator share;
    const int fd = open_file(path, access, share_mode, disposition, attributes, &share);
    if (fd < 0) return INVALID_HANDLE_VALUE;
    const DWORD error = GetLastError();
    HANDLE h = add_handle(std::make_shared<FileObject>(fd, share));
    SetLastError(error);
    return h;
}

BOOL delete_file(const std::string &path) {
    if (unlink(path.c_str()) == 0) return TRUE;
    SetLastError(errno == EISDIR ? ERROR_ACCESS_DENIED : error_for_open(errno, path));
    return FALSE;
}

}  // namespace

int fd_from_handle(HANDLE h) {
    auto f = std::dynamic_pointer_cast<FileObject>(find_handle(h));
    return f ? f->fd : -1;
}

}  // namespace tw::posix

using namespace tw::posix;

// ---- Files.

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, LPSECURITY_ATTRIBUTES,
                   DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE) {
    if (!lpFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    return create_file(lpFileName, dwDesiredAccess, dwShareMode, dwCreationDisposition, dwFlagsAndAttributes);
}

HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, LPSECURITY_ATTRIBUTES,
                   DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE) {
    if (!lpFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    return create_file(tw::to_utf8(lpFileName), dwDesiredAccess, dwShareMode, dwCreationDisposition,
                       dwFlagsAndAttributes);
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD n, LPDWORD lpWritten, LPOVERLAPPED lpOverlapped) {
    if (lpWritten) *lpWritten = 0;
    auto f = find_as<FileObject>(hFile);
    if (!f) return FALSE;
    if (lpOverlapped || (!lpBuffer && n)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const char *p = static_cast<const char *>(lpBuffer);
    DWORD done = 0;
    while (done < n) {
        ssize_t k = write(f->fd, p + done, n - done);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) {
            if (lpWritten) *lpWritten = done;
            SetLastError(k == 0 ? ERROR_DISK_FULL : error_for_io(errno, true));
            return FALSE;
        }
        done += DWORD(k);
    }
    if (lpWritten) *lpWritten = done;
    return TRUE;
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD n, LPDWORD lpRead, LPOVERLAPPED lpOverlapped) {
    if (lpRead) *lpRead = 0;
    auto f = find_as<FileObject>(hFile);
    if (!f) return FALSE;
    if (lpOverlapped || (!lpBuffer && n)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ssize_t k;
    do {
        k = read(f->fd, lpBuffer, n);
    } while (k < 0 && errno == EINTR);
    if (k < 0) {
        SetLastError(error_for_io(errno, false));
        return FALSE;
    }
    if (lpRead) *lpRead = DWORD(k);
    return TRUE;  // 0 bytes read at the end of the file
}

BOOL FlushFileBuffers(HANDLE hFile) {
    auto f = find_as<FileObject>(hFile);
    if (!f) return FALSE;
    if (fsync(f->fd) != 0) {
        SetLastError(error_for_io(errno, true));
        return FALSE;
    }
    return TRUE;
}

DWORD SetFilePointer(HANDLE hFile, LONG lDistanceToMove, LONG *lpDistanceToMoveHigh, DWORD dwMoveMethod) {
    auto f = find_as<FileObject>(hFile);
    if (!f) return INVALID_SET_FILE_POINTER;
    int64_t distance = lpDistanceToMoveHigh
                           ? int64_t((uint64_t(uint32_t(*lpDistanceToMoveHigh)) << 32) | uint32_t(lDistanceToMove))
                           : int64_t(lDistanceToMove);
    const int whence = dwMoveMethod == FILE_BEGIN ? SEEK_SET : dwMoveMethod == FILE_CURRENT ? SEEK_CUR
                       : dwMoveMethod == FILE_END ? SEEK_END : -1;
    if (whence < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    off_t pos = lseek(f->fd, off_t(distance), whence);
    if (pos < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    if (lpDistanceToMoveHigh) *lpDistanceToMoveHigh = LONG(uint64_t(pos) >> 32);
    else if (uint64_t(pos) > 0xFFFFFFFEu) {
        SetLastError(ERROR_INVALID_PARAMETER);  // the position does not fit the low word alone
        return INVALID_SET_FILE_POINTER;
    }
    SetLastError(ERROR_SUCCESS);  // callers tell a low word of 0xFFFFFFFF from failure this way
    return DWORD(uint64_t(pos));
}

BOOL DeleteFileA(LPCSTR lpFileName) {
    if (!lpFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return delete_file(lpFileName);
}

BOOL DeleteFileW(LPCWSTR lpFileName) {
    if (!lpFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return delete_file(tw::to_utf8(lpFileName));
}

DWORD GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer) {
    const char *env = std::getenv("TMPDIR");
    std::string dir = env && env[0] == '/' ? env : "/tmp";
    if (dir.back() != '/') dir.push_back('/');
    if (!lpBuffer || nBufferLength < dir.size() + 1) return DWORD(dir.size() + 1);
    std::memcpy(lpBuffer, dir.c_str(), dir.size() + 1);
    return DWORD(dir.size());
}

BOOL CloseHandle(HANDLE hObject) {
    std::shared_ptr<KernelObject> gone;  // freed outside the lock (or by the last user)
    {
        std::lock_guard<std::mutex> g(g_lock);
        auto it = g_handles.find(hObject);
        if (it != g_handles.end()) {
            gone = std::move(it->second);
            g_handles.erase(it);
        }
    }
    if (!gone) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

// ---- Events.

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState, LPCSTR lpName) {
    if (lpName) {  // named events would be shared between processes: not supported
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    return add_handle(std::make_shared<EventObject>(bManualReset != FALSE, bInitialState != FALSE));
}

BOOL SetEvent(HANDLE hEvent) {
    auto e = find_as<EventObject>(hEvent);
    if (!e) return FALSE;
    {
        std::lock_guard<std::mutex> g(e->lock);
        e->signalled = true;
    }
    e->changed.notify_all();
    return TRUE;
}

BOOL ResetEvent(HANDLE hEvent) {
    auto e = find_as<EventObject>(hEvent);
    if (!e) return FALSE;
    std::lock_guard<std::mutex> g(e->lock);
    e->signalled = false;
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    auto o = find_handle(hHandle);
    if (!o) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    auto e = std::dynamic_pointer_cast<EventObject>(o);
    if (!e) return WAIT_OBJECT_0;  // a file handle is signalled: its I/O is synchronous
    std::unique_lock<std::mutex> lk(e->lock);
    auto ready = [&] { return e->signalled; };
    if (dwMilliseconds == INFINITE)
        e->changed.wait(lk, ready);
    else if (!e->changed.wait_for(lk, std::chrono::milliseconds(dwMilliseconds), ready))
        return WAIT_TIMEOUT;
    if (!e->manual) e->signalled = false;  // an auto-reset event releases one waiter
    return WAIT_OBJECT_0;
}

// ---- Kernel.

void Sleep(DWORD dwMilliseconds) {
    if (dwMilliseconds == 0)
        std::this_thread::yield();
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}

DWORD GetTickCount() {
    using namespace std::chrono;
    return DWORD(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}
