// The running object table: one per process, shared by all threads.
//
// The table holds a counted reference to each registered object and to its moniker until the
// registration is revoked, whatever the registration flags say. Names are matched by the
// monikers' display names, compared without regard to case, which is how item monikers
// compare themselves (IMoniker::IsEqual); a moniker without a display name is matched by
// IsEqual instead.
#include "platform/posix/com/rot.h"

#include "platform/posix/com/runtime.h"
#include "platform/posix/object.h"
#include "platform/text.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace tw::posix {
namespace {

// ---- Publication of registrations for other processes.

// A directory of ours that only we can write to, made if missing.
bool private_dir(const std::string &path) {
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return false;
    return S_ISDIR(st.st_mode) && st.st_uid == getuid() && (st.st_mode & 077) == 0;
}

bool write_all(int fd, const std::string &s) {
    size_t done = 0;
    while (done < s.size()) {
        ssize_t n = write(fd, s.data() + done, s.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

std::string publication_file(const std::string &dir, DWORD pid, DWORD cookie) {
    return dir + "/" + std::to_string(pid) + "-" + std::to_string(cookie);
}

// Writes the file of one registration; returns its path, or empty when it was not written.
std::string publish(DWORD cookie, const wstring &name) {
    const std::string dir = rot_publication_dir();
    if (dir.empty()) return {};
    const DWORD pid = GetCurrentProcessId();
    const std::string path = publication_file(dir, pid, cookie);
    const std::string temp = path + ".tmp";
    unlink(temp.c_str());
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return {};
    const std::string text = "pid=" + std::to_string(pid) + "\ncookie=" + std::to_string(cookie) +
                             "\nname=" + to_utf8(name) + "\n";
    const bool written = write_all(fd, text);
    if (close(fd) != 0 || !written || rename(temp.c_str(), path.c_str()) != 0) {
        unlink(temp.c_str());
        return {};
    }
    return path;
}

std::optional<PublishedObject> read_published(const std::string &path) {
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string text;
    char buf[512];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buf, size_t(n));
        if (text.size() > 65536) break;
    }
    close(fd);
    PublishedObject o;
    auto number = [&](const char *key, DWORD *out) {
        size_t at = text.find(key);
        if (at == std::string::npos) return false;
        char *end = nullptr;
        unsigned long v = std::strtoul(text.c_str() + at + std::char_traits<char>::length(key), &end, 10);
        if (!end || *end != '\n') return false;
        *out = DWORD(v);
        return true;
    };
    size_t name_at = text.find("\nname=");
    if (!number("pid=", &o.pid) || !number("\ncookie=", &o.cookie) || name_at == std::string::npos)
        return std::nullopt;
    o.name = text.substr(name_at + 6);
    if (!o.name.empty() && o.name.back() == '\n') o.name.pop_back();
    return o;
}

void now_filetime(FILETIME *ft) {
    using namespace std::chrono;
    // FILETIME counts 100 ns from 1601-01-01; the system clock counts from 1970-01-01.
    const uint64_t t = uint64_t(duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count() / 100) +
                       116444736000000000ull;
    ft->dwLowDateTime = DWORD(t);
    ft->dwHighDateTime = DWORD(t >> 32);
}

// The display name of a moniker, or nothing when it has none to give.
std::optional<wstring> display_name(IMoniker *m) {
    LPOLESTR s = nullptr;
    if (FAILED(m->GetDisplayName(nullptr, nullptr, &s)) || !s) return std::nullopt;
    wstring r(s);
    CoTaskMemFree(s);
    return r;
}

// ---- The table.

struct Entry {
    DWORD cookie;
    ComPtr<IUnknown> object;
    ComPtr<IMoniker> moniker;
    std::optional<wstring> name;
    FILETIME changed;
    std::string published;  // path of the publication file, empty when not published
};

using MonikerEnumerator = Enumerator<IEnumMoniker, IMoniker, ComPtr<IMoniker>, hand_out_counted<IMoniker>>;

// The process's table. It lives as long as the program and is not counted among the live
// objects: its reference count is kept so that callers see ordinary counts, but reaching
// zero never frees it.
class RunningObjectTable final : public IRunningObjectTable {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != iid_of<IUnknown>() && riid != iid_of<IRunningObjectTable>()) return E_NOINTERFACE;
        AddRef();
        *ppv = static_cast<IRunningObjectTable *>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG n = refs_.load();
        while (n > 1 && !refs_.compare_exchange_weak(n, n - 1)) {
        }
        return n > 1 ? n - 1 : 1;
    }

    HRESULT STDMETHODCALLTYPE Register(DWORD grfFlags, IUnknown *punkObject, IMoniker *pmkObjectName,
                                       DWORD *pdwRegister) override {
        if (pdwRegister) *pdwRegister = 0;
        if (!punkObject || !pmkObjectName || !pdwRegister) return E_INVALIDARG;
        if (grfFlags & ~DWORD(ROTFLAGS_REGISTRATIONKEEPSALIVE | ROTFLAGS_ALLOWANYCLIENT)) return E_INVALIDARG;

        Entry e{0, ComPtr<IUnknown>::addref(punkObject), ComPtr<IMoniker>::addref(pmkObjectName),
                display_name(pmkObjectName), {}, {}};
        now_filetime(&e.changed);
        const bool duplicate = find(pmkObjectName, e.name).has_value();
        {
            std::lock_guard<std::mutex> lock(lock_);
            e.cookie = next_cookie_++;
            if (next_cookie_ == 0) next_cookie_ = 1;
        }
        if (e.name) e.published = publish(e.cookie, *e.name);
        const DWORD cookie = e.cookie;
        {
            std::lock_guard<std::mutex> lock(lock_);
            entries_.push_back(std::move(e));
        }
        *pdwRegister = cookie;
        return duplicate ? MK_S_MONIKERALREADYREGISTERED : S_OK;
    }

    HRESULT STDMETHODCALLTYPE Revoke(DWORD dwRegister) override {
        std::optional<Entry> gone;  // its references are released outside the lock
        {
            std::lock_guard<std::mutex> lock(lock_);
            for (auto it = entries_.begin(); it != entries_.end(); ++it) {
                if (it->cookie != dwRegister) continue;
                gone = std::move(*it);
                entries_.erase(it);
                break;
            }
        }
        if (!gone) return E_INVALIDARG;
        if (!gone->published.empty()) unlink(gone->published.c_str());
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE IsRunning(IMoniker *pmkObjectName) override {
        if (!pmkObjectName) return E_INVALIDARG;
        return find(pmkObjectName, display_name(pmkObjectName)) ? S_OK : S_FALSE;
    }

    HRESULT STDMETHODCALLTYPE GetObject(IMoniker *pmkObjectName, IUnknown **ppunkObject) override {
        if (!ppunkObject) return E_INVALIDARG;
        *ppunkObject = nullptr;
        if (!pmkObjectName) return E_INVALIDARG;
        auto cookie = find(pmkObjectName, display_name(pmkObjectName));
        if (!cookie) return MK_E_UNAVAILABLE;
        std::lock_guard<std::mutex> lock(lock_);
        for (auto &e : entries_)
            if (e.cookie == *cookie) {
                *ppunkObject = ComPtr<IUnknown>(e.object).detach();
                return S_OK;
            }
        return MK_E_UNAVAILABLE;  // revoked meanwhile
    }

    HRESULT STDMETHODCALLTYPE NoteChangeTime(DWORD dwRegister, FILETIME *pfiletime) override {
        if (!pfiletime) return E_INVALIDARG;
        std::lock_guard<std::mutex> lock(lock_);
        for (auto &e : entries_)
            if (e.cookie == dwRegister) {
                e.changed = *pfiletime;
                return S_OK;
            }
        return E_INVALIDARG;
    }

    HRESULT STDMETHODCALLTYPE GetTimeOfLastChange(IMoniker *pmkObjectName, FILETIME *pfiletime) override {
        if (!pmkObjectName || !pfiletime) return E_INVALIDARG;
        auto cookie = find(pmkObjectName, display_name(pmkObjectName));
        if (!cookie) return MK_E_UNAVAILABLE;
        std::lock_guard<std::mutex> lock(lock_);
        for (auto &e : entries_)
            if (e.cookie == *cookie) {
                *pfiletime = e.changed;
                return S_OK;
            }
        return MK_E_UNAVAILABLE;
    }

    HRESULT STDMETHODCALLTYPE EnumRunning(IEnumMoniker **ppenumMoniker) override {
        if (!ppenumMoniker) return E_INVALIDARG;
        // A snapshot of the registrations: later changes do not reach it, and Reset rewinds it.
        std::vector<ComPtr<IMoniker>> list;
        {
            std::lock_guard<std::mutex> lock(lock_);
            for (auto &e : entries_) list.push_back(e.moniker);
        }
        auto source = std::make_shared<MonikerEnumerator::Source>();
        source->count_rule = CountRule::kCom;
        *ppenumMoniker = new MonikerEnumerator(std::move(source), std::move(list));
        return S_OK;
    }

private:
    // The cookie of the first registration under the moniker's name.
    std::optional<DWORD> find(IMoniker *m, const std::optional<wstring> &name) {
        std::vector<std::pair<DWORD, ComPtr<IMoniker>>> unnamed;
        {
            std::lock_guard<std::mutex> lock(lock_);
            for (auto &e : entries_) {
                if (name && e.name) {
                    if (equal_no_case(*name, *e.name)) return e.cookie;
                } else {
                    unnamed.emplace_back(e.cookie, e.moniker);
                }
            }
        }
        // Monikers without a display name are asked themselves, outside the lock.
        for (auto &[cookie, other] : unnamed)
            if (m->IsEqual(other.get()) == S_OK) return cookie;
        return std::nullopt;
    }

    std::atomic<ULONG> refs_{1};  // the program's own reference
    std::mutex lock_;             // guards entries_ and next_cookie_; never held across a call-out
    std::vector<Entry> entries_;
    DWORD next_cookie_ = 1;
};

RunningObjectTable &table() {
    // Never destroyed: registrations still held at exit would otherwise be released after
    // the objects' own code may have gone.
    static RunningObjectTable *t = new RunningObjectTable;
    return *t;
}

}  // namespace

std::string rot_publication_dir() {
    std::string base;
    const char *xdg = std::getenv("XDG_RUNTIME_DIR");
    struct stat st;
    if (xdg && xdg[0] == '/' && stat(xdg, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid()) {
        base = std::string(xdg) + "/tarnwick";
    } else {
        base = "/tmp/tarnwick-" + std::to_string(getuid());
    }
    if (!private_dir(base)) return {};
    const std::string dir = base + "/rot";
    if (!private_dir(dir)) return {};
    return dir;
}

std::vector<PublishedObject> published_objects() {
    std::vector<PublishedObject> out;
    const std::string dir = rot_publication_dir();
    if (dir.empty()) return out;
    DIR *d = opendir(dir.c_str());
    if (!d) return out;
    while (dirent *ent = readdir(d)) {
        const std::string file = ent->d_name;
        if (file.empty() || file[0] == '.' || file.find(".tmp") != std::string::npos) continue;
        const std::string path = dir + "/" + file;
        auto o = read_published(path);
        if (!o) continue;
        if (kill(pid_t(o->pid), 0) != 0 && errno == ESRCH) {
            unlink(path.c_str());  // left behind by a process that ended without revoking
            continue;
        }
        out.push_back(std::move(*o));
    }
    closedir(d);
    return out;
}

}  // namespace tw::posix

HRESULT GetRunningObjectTable(DWORD reserved, IRunningObjectTable **pprot) {
    if (!pprot) return E_INVALIDARG;
    *pprot = nullptr;
    if (reserved != 0) return E_UNEXPECTED;  // as ole32 answers
    if (!tw::posix::com_initialized()) return CO_E_NOTINITIALIZED;
    tw::posix::RunningObjectTable &t = tw::posix::table();
    t.AddRef();
    *pprot = &t;
    return S_OK;
}
