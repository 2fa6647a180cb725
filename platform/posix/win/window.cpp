// Hidden windows, message queues and timers.
//
// Each thread that uses these calls gets one message queue, made on its first use of them
// (PeekMessageA with PM_NOREMOVE is the usual way to make one early, as on Windows). A window
// belongs to the thread that created it: its messages are retrieved and dispatched there,
// and only that thread may destroy it. PostMessageA, PostThreadMessageA, SetTimer, KillTimer
// and SendMessageA may be called from any thread.
//
// Retrieval order follows Windows: messages sent from other threads are delivered first (from
// inside GetMessageA/PeekMessageA), then posted messages in order, then WM_QUIT once
// PostQuitMessage has been called, then WM_TIMER. Timers never queue messages: a due timer
// produces one WM_TIMER when the queue has nothing else to give, however many periods have
// passed, and its next expiry stays on the period's grid.
//
// Locks: g_lock guards the window, class and queue tables; each queue's lock guards that
// queue and the `alive` flag of its windows. The two are never held together, and no lock is
// held while a window procedure or timer procedure runs.
//
// One file, though long: classes, windows, messages and timers share these tables and locks,
// and the retrieval order above is kept by the message and timer code together.
#include "platform/win32.h"
#include "platform/queue_wake.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#define ERROR_INVALID_INDEX 1413u
#define ERROR_CLASS_DOES_NOT_EXIST 1411u

namespace tw::posix {
namespace {

using Clock = std::chrono::steady_clock;

// A thread's queue holds at most this many posted messages, as Windows' default quota.
constexpr size_t kPostedLimit = 10000;

struct Queue;

// A message sent from another thread, waiting for the owner thread of its window.
struct SentMessage {
    HWND hwnd;
    UINT msg;
    WPARAM wparam;
    LPARAM lparam;
    std::shared_ptr<Queue> sender;
    LRESULT result = 0;  // guarded by sender->lock, as is `done`
    bool done = false;
};

struct Timer {
    HWND hwnd;  // null for a thread timer
    UINT_PTR id;
    Clock::duration period;
    Clock::time_point due;
    TIMERPROC proc;
};

struct Queue {
    explicit Queue(DWORD tid) : thread_id(tid), wake_fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~Queue() {
        if (wake_fd >= 0) close(wake_fd);
    }
    Queue(const Queue &) = delete;
    Queue &operator=(const Queue &) = delete;

    const DWORD thread_id;
    // Signalled with `wake` for a loop of another toolkit that waits on descriptors, not on
    // the condition variable (QueueWakeFd). -1 if the system had none to give.
    const int wake_fd;

    // Wakes whoever waits for this queue: a thread in GetMessageA or SendMessageA, and a
    // foreign loop watching wake_fd. Called without `lock` held.
    void signal() {
        wake.notify_all();
        if (wake_fd >= 0) {
            const uint64_t one = 1;
            // A full counter (it cannot be, short of 2^64 posts unread) is still readable.
            [[maybe_unused]] ssize_t n = write(wake_fd, &one, sizeof one);
        }
    }

    std::mutex lock;
    std::condition_variable wake;  // something was posted, sent, answered, or a timer changed
    std::deque<MSG> posted;
    std::deque<std::shared_ptr<SentMessage>> sent;
    std::vector<Timer> timers;
    bool quit = false;
    int quit_code = 0;
    bool alive = true;  // false once the owner thread has ended
    UINT_PTR next_thread_timer = 1;
};

struct Window {
    HWND handle;
    HWND parent;
    std::shared_ptr<Queue> queue;
    std::atomic<WNDPROC> proc;
    std::atomic<LONG_PTR> user{0};
    std::atomic<LONG_PTR> id{0};
    HINSTANCE instance;
    std::string class_key;
    std::mutex extra_lock;  // guards extra
    std::vector<unsigned char> extra;
    bool alive = true;        // guarded by queue->lock
    bool destroying = false;  // owner thread only
};

struct WindowClass {
    std::string name;
    ATOM atom;
    WNDPROC proc;
    int wnd_extra;
    HINSTANCE instance;
};

std::mutex g_lock;  // guards the four tables below and the counters
std::unordered_map<uintptr_t, std::shared_ptr<Window>> g_windows;
std::map<std::string, WindowClass> g_classes;  // by upper-cased name
std::unordered_map<DWORD, std::weak_ptr<Queue>> g_queues;
uintptr_t g_next_window = 1;
ATOM g_next_atom = 0xC000;

void fail(DWORD error) { SetLastError(error); }

std::string class_key(const std::string &name) {
    std::string k = name;
    for (char &c : k)
        if (c >= 'a' && c <= 'z') c = char(c - 32);
    return k;
}

void complete(const std::shared_ptr<SentMessage> &s, LRESULT result) {
    {
        std::lock_guard<std::mutex> g(s->sender->lock);
        s->result = result;
        s->done = true;
    }
    s->sender->signal();
}

void forget_thread(const std::shared_ptr<Queue> &q);

// Owns the calling thread's queue; at thread end its windows are dropped without messages
// (there is no thread left to run their procedures) and waiting senders are released.
struct QueueHolder {
    std::shared_ptr<Queue> queue;
    ~QueueHolder() {
        if (queue) forget_thread(queue);
    }
};
thread_local QueueHolder t_queue;

std::shared_ptr<Queue> current_queue() {
    if (!t_queue.queue) {
        auto q = std::make_shared<Queue>(GetCurrentThreadId());
        std::lock_guard<std::mutex> g(g_lock);
        g_queues[q->thread_id] = q;
        t_queue.queue = q;
    }
    return t_queue.queue;
}

void forget_thread(const std::shared_ptr<Queue> &q) {
    std::vector<std::shared_ptr<Window>> windows;
    {
        std::lock_guard<std::mutex> g(g_lock);
        g_queues.erase(q->thread_id);
        for (auto it = g_windows.begin(); it != g_windows.end();) {
            if (it->second->queue == q) {
                windows.push_back(it->second);
                it = g_windows.erase(it);
            } else {
                ++it;
            }
        }
    }
    std::deque<std::shared_ptr<SentMessage>> waiting;
    {
        std::lock_guard<std::mutex> g(q->lock);
        q->alive = false;
        for (auto &w : windows) w->alive = false;
        q->posted.clear();
        q->timers.clear();
        waiting.swap(q->sent);
    }
    for (auto &s : waiting) complete(s, 0);
}

std::shared_ptr<Window> find_window(HWND hwnd) {
    if (!hwnd) return nullptr;
    std::lock_guard<std::mutex> g(g_lock);
    auto it = g_windows.find(reinterpret_cast<uintptr_t>(hwnd));
    return it == g_windows.end() ? nullptr : it->second;
}

bool owned_here(const Window &w) { return w.queue->thread_id == GetCurrentThreadId(); }

bool range_matches(UINT lo, UINT hi, UINT msg) { return (lo == 0 && hi == 0) || (msg >= lo && msg <= hi); }

bool window_matches(HWND filter, HWND hwnd) {
    if (!filter) return true;
    if (filter == reinterpret_cast<HWND>(intptr_t(-1))) return hwnd == nullptr;  // thread messages only
    return hwnd == filter;
}

DWORD tick_of(Clock::time_point t) {
    return DWORD(std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count());
}

// A window procedure that throws still releases the sender (with 0); the exception goes on
// to the caller of GetMessageA/PeekMessageA, as one from DispatchMessageA would.
void deliver_sent(const std::shared_ptr<SentMessage> &s) {
    auto w = find_window(s->hwnd);
    LRESULT r = 0;
    try {
        if (w && owned_here(*w)) {
            if (WNDPROC proc = w->proc.load()) r = proc(s->hwnd, s->msg, s->wparam, s->lparam);
        }
    } catch (...) {
        complete(s, 0);
        throw;
    }
    complete(s, r);
}

// Looks for a message for the calling thread. Returns 1 with *out filled, 0 when there is
// none (or the wait was not asked for).
int retrieve(MSG *out, HWND hwnd, UINT lo, UINT hi, UINT remove, bool wait) {
    auto q = current_queue();
    std::unique_lock<std::mutex> lk(q->lock);
    for (;;) {
        if (!q->sent.empty()) {
            auto s = q->sent.front();
            q->sent.pop_front();
            lk.unlock();
            deliver_sent(s);
            lk.lock();
            continue;
        }
        for (auto it = q->posted.begin(); it != q->posted.end(); ++it) {
            if (!window_matches(hwnd, it->hwnd) || !range_matches(lo, hi, it->message)) continue;
            *out = *it;
            if (remove & PM_REMOVE) q->posted.erase(it);
            return 1;
        }
        const auto now = Clock::now();
        if (q->quit && range_matches(lo, hi, WM_QUIT)) {
            *out = MSG{nullptr, WM_QUIT, WPARAM(q->quit_code), 0, tick_of(now), {0, 0}};
            if (remove & PM_REMOVE) q->quit = false;
            return 1;
        }
        std::optional<Clock::time_point> next_due;
        Timer *due = nullptr;
        if (range_matches(lo, hi, WM_TIMER)) {
            for (auto &t : q->timers) {
                if (!window_matches(hwnd, t.hwnd)) continue;
                if (t.due <= now && (!due || t.due < due->due)) due = &t;
                if (!next_due || t.due < *next_due) next_due = t.due;
            }
        }
        if (due) {
            *out = MSG{due->hwnd, WM_TIMER, WPARAM(due->id), LPARAM(reinterpret_cast<intptr_t>(due->proc)),
                       tick_of(now), {0, 0}};
            if (remove & PM_REMOVE) {
                const auto behind = (now - due->due) / due->period + 1;
                due->due += behind * due->period;
            }
            return 1;
        }
        if (!wait) return 0;
        if (next_due)
            q->wake.wait_until(lk, *next_due);
        else
            q->wake.wait(lk);
    }
}

bool post_to(const std::shared_ptr<Queue> &q, const Window *w, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp,
             DWORD gone_error) {
    {
        std::lock_guard<std::mutex> g(q->lock);
        if (!q->alive || (w && !w->alive)) {
            fail(gone_error);
            return false;
        }
        if (q->posted.size() >= kPostedLimit) {
            fail(ERROR_NOT_ENOUGH_QUOTA);
            return false;
        }
        q->posted.push_back(MSG{hwnd, msg, wp, lp, tick_of(Clock::now()), {0, 0}});
    }
    q->signal();
    return true;
}

// Takes the window (and its children) out of every table and queue.
void forget_window(const std::shared_ptr<Window> &w);

void destroy(const std::shared_ptr<Window> &w) {
    w->destroying = true;
    const HWND hwnd = w->handle;
    // Should a procedure throw, the window is still taken down before the exception goes on.
    try {
        if (WNDPROC proc = w->proc.load()) proc(hwnd, WM_DESTROY, 0, 0);

        std::vector<std::shared_ptr<Window>> children;
        {
            std::lock_guard<std::mutex> g(g_lock);
            for (auto &[h, c] : g_windows)
                if (c->parent == hwnd && !c->destroying) children.push_back(c);
        }
        for (auto &c : children) destroy(c);

        if (WNDPROC proc = w->proc.load()) proc(hwnd, WM_NCDESTROY, 0, 0);
    } catch (...) {
        forget_window(w);
        throw;
    }
    forget_window(w);
}

void forget_window(const std::shared_ptr<Window> &w) {
    const HWND hwnd = w->handle;
    std::vector<std::shared_ptr<Window>> children;
    {
        std::lock_guard<std::mutex> g(g_lock);
        for (auto &[h, c] : g_windows)
            if (c->parent == hwnd) children.push_back(c);
    }
    for (auto &c : children) forget_window(c);
    {
        std::lock_guard<std::mutex> g(g_lock);
        g_windows.erase(reinterpret_cast<uintptr_t>(hwnd));
    }
    auto &q = *w->queue;
    std::lock_guard<std::mutex> g(q.lock);
    w->alive = false;
    q.posted.erase(std::remove_if(q.posted.begin(), q.posted.end(), [&](const MSG &m) { return m.hwnd == hwnd; }),
                   q.posted.end());
    q.timers.erase(std::remove_if(q.timers.begin(), q.timers.end(), [&](const Timer &t) { return t.hwnd == hwnd; }),
                   q.timers.end());
}

ATOM register_class(const char *name, WNDPROC proc, int wnd_extra, HINSTANCE instance) {
    if (!name || !*name || !proc || wnd_extra < 0 || wnd_extra > 40 * 1024) {
        fail(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::lock_guard<std::mutex> g(g_lock);
    const std::string key = class_key(name);
    if (g_classes.count(key)) {
        fail(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    if (g_next_atom == 0xFFFF) {
        fail(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    const ATOM atom = g_next_atom++;
    g_classes[key] = WindowClass{name, atom, proc, wnd_extra, instance};
    return atom;
}

// A class name, or an atom in the low word of the pointer (MAKEINTATOM).
std::optional<WindowClass> find_class(LPCSTR name) {
    std::lock_guard<std::mutex> g(g_lock);
    const uintptr_t v = reinterpret_cast<uintptr_t>(name);
    if (v != 0 && v < 0x10000) {
        for (auto &[k, c] : g_classes)
            if (c.atom == ATOM(v)) return c;
        return std::nullopt;
    }
    if (!name) return std::nullopt;
    auto it = g_classes.find(class_key(name));
    if (it == g_classes.end()) return std::nullopt;
    return it->second;
}

}  // namespace
}  // namespace tw::posix

using namespace tw::posix;

// ---- Classes.

ATOM RegisterClassA(const WNDCLASSA *wc) {
    if (!wc) {
        fail(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return register_class(wc->lpszClassName, wc->lpfnWndProc, wc->cbWndExtra, wc->hInstance);
}

ATOM RegisterClassExA(const WNDCLASSEXA *wc) {
    if (!wc || wc->cbSize != sizeof(WNDCLASSEXA)) {
        fail(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return register_class(wc->lpszClassName, wc->lpfnWndProc, wc->cbWndExtra, wc->hInstance);
}

BOOL UnregisterClassA(LPCSTR name, HINSTANCE) {
    auto cls = find_class(name);
    std::lock_guard<std::mutex> g(g_lock);
    if (!cls) {
        fail(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    const std::string key = class_key(cls->name);
    for (auto &[h, w] : g_windows)
        if (w->class_key == key) {
            fail(ERROR_CLASS_HAS_WINDOWS);
            return FALSE;
        }
    g_classes.erase(key);
    return TRUE;
}

// ---- Windows.

HWND CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int X, int Y,
                     int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance, LPVOID lpParam) {
    auto cls = find_class(lpClassName);
    if (!cls) {
        fail(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    if (hWndParent && hWndParent != HWND_MESSAGE && !find_window(hWndParent)) {
        fail(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    auto w = std::make_shared<Window>();
    w->parent = hWndParent == HWND_MESSAGE ? nullptr : hWndParent;
    w->queue = current_queue();
    w->proc = cls->proc;
    w->instance = hInstance;
    w->class_key = class_key(cls->name);
    w->extra.assign(size_t(cls->wnd_extra), 0);
    if (dwStyle & WS_CHILD) w->id = LONG_PTR(reinterpret_cast<intptr_t>(hMenu));
    {
        std::lock_guard<std::mutex> g(g_lock);
        // Handles are never reused, so a stale handle can only ever be invalid.
        w->handle = reinterpret_cast<HWND>(uintptr_t(0x10000) + (g_next_window++ << 1));
        g_windows[reinterpret_cast<uintptr_t>(w->handle)] = w;
    }
    CREATESTRUCTA cs{lpParam, hInstance, hMenu, hWndParent, nHeight, nWidth, Y, X, LONG(dwStyle), lpWindowName,
                     lpClassName, dwExStyle};
    const HWND hwnd = w->handle;
    if (!w->proc.load()(hwnd, WM_NCCREATE, 0, LPARAM(reinterpret_cast<intptr_t>(&cs)))) {
        destroy(w);
        return nullptr;
    }
    if (w->proc.load()(hwnd, WM_CREATE, 0, LPARAM(reinterpret_cast<intptr_t>(&cs))) == -1) {
        destroy(w);
        return nullptr;
    }
    return hwnd;
}

BOOL DestroyWindow(HWND hWnd) {
    auto w = find_window(hWnd);
    if (!w) {
        fail(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (!owned_here(*w)) {
        fail(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (!w->destroying) destroy(w);
    return TRUE;
}

BOOL IsWindow(HWND hWnd) { return find_window(hWnd) ? TRUE : FALSE; }

DWORD GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId) {
    auto w = find_window(hWnd);
    if (!w) {
        fail(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (lpdwProcessId) *lpdwProcessId = GetCurrentProcessId();
    return w->queue->thread_id;
}

LONG_PTR SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR value) {
    auto w = find_window(hWnd);
    if (!w) {
        fail(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    switch (nIndex) {
    case GWLP_WNDPROC: {
        if (!value) {
            fail(ERROR_INVALID_PARAMETER);
            return 0;
        }
        WNDPROC old = w->proc.exchange(reinterpret_cast<WNDPROC>(value));
        return LONG_PTR(reinterpret_cast<intptr_t>(old));
    }
    case GWLP_USERDATA:
        return w->user.exchange(value);
    case GWLP_ID:
        return w->id.exchange(value);
    default:
        break;
    }
    if (nIndex >= 0) {
        std::lock_guard<std::mutex> g(w->extra_lock);
        if (size_t(nIndex) + sizeof(LONG_PTR) <= w->extra.size()) {
            LONG_PTR old;
            std::memcpy(&old, &w->extra[size_t(nIndex)], sizeof old);
            std::memcpy(&w->extra[size_t(nIndex)], &value, sizeof value);
            return old;
        }
    }
    fail(ERROR_INVALID_INDEX);
    return 0;
}

LONG_PTR GetWindowLongPtrA(HWND hWnd, int nIndex) {
    auto w = find_window(hWnd);
    if (!w) {
        fail(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    switch (nIndex) {
    case GWLP_WNDPROC:
        return LONG_PTR(reinterpret_cast<intptr_t>(w->proc.load()));
    case GWLP_USERDATA:
        return w->user.load();
    case GWLP_ID:
        return w->id.load();
    case GWLP_HINSTANCE:
        return LONG_PTR(reinterpret_cast<intptr_t>(w->instance));
    default:
        break;
    }
    if (nIndex >= 0) {
        std::lock_guard<std::mutex> g(w->extra_lock);
        if (size_t(nIndex) + sizeof(LONG_PTR) <= w->extra.size()) {
            LONG_PTR v;
            std::memcpy(&v, &w->extra[size_t(nIndex)], sizeof v);
            return v;
        }
    }
    fail(ERROR_INVALID_INDEX);
    return 0;
}

LRESULT DefWindowProcA(HWND hWnd, UINT Msg, WPARAM, LPARAM) {
    switch (Msg) {
    case WM_NCCREATE:
        return TRUE;
    case WM_CLOSE:
        DestroyWindow(hWnd);
        return 0;
    default:
        return 0;
    }
}

LRESULT CallWindowProcA(WNDPROC proc, HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    return proc ? proc(hWnd, Msg, wParam, lParam) : 0;
}

// ---- Messages.

BOOL PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (!hWnd) return post_to(current_queue(), nullptr, nullptr, Msg, wParam, lParam, ERROR_INVALID_THREAD_ID);
    auto w = find_window(hWnd);
    if (!w) {
        fail(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return post_to(w->queue, w.get(), hWnd, Msg, wParam, lParam, ERROR_INVALID_WINDOW_HANDLE);
}

BOOL PostThreadMessageA(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam) {
    std::shared_ptr<Queue> q;
    {
        std::lock_guard<std::mutex> g(g_lock);
        auto it = g_queues.find(idThread);
        if (it != g_queues.end()) q = it->second.lock();
    }
    if (!q) {
        fail(ERROR_INVALID_THREAD_ID);
        return FALSE;
    }
    return post_to(q, nullptr, nullptr, Msg, wParam, lParam, ERROR_INVALID_THREAD_ID);
}

// A message for a window of another thread waits until that thread retrieves messages; while
// it waits, the calling thread still answers messages sent to its own windows, so two threads
// sending to each other do not lock up. 0 comes back when the window or its thread goes away
// before answering.
LRESULT SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    auto w = find_window(hWnd);
    if (!w) {
        fail(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (owned_here(*w)) {
        WNDPROC proc = w->proc.load();
        return proc ? proc(hWnd, Msg, wParam, lParam) : 0;
    }
    auto me = current_queue();
    auto s = std::make_shared<SentMessage>(SentMessage{hWnd, Msg, wParam, lParam, me});
    {
        std::lock_guard<std::mutex> g(w->queue->lock);
        if (!w->queue->alive || !w->alive) {
            fail(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        w->queue->sent.push_back(s);
    }
    w->queue->signal();
    std::unique_lock<std::mutex> lk(me->lock);
    while (!s->done) {
        if (!me->sent.empty()) {
            auto incoming = me->sent.front();
            me->sent.pop_front();
            lk.unlock();
            deliver_sent(incoming);
            lk.lock();
            continue;
        }
        me->wake.wait(lk);
    }
    return s->result;
}

BOOL GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
    if (!lpMsg) {
        fail(ERROR_INVALID_PARAMETER);
        return -1;
    }
    if (hWnd && hWnd != reinterpret_cast<HWND>(intptr_t(-1)) && !find_window(hWnd)) {
        fail(ERROR_INVALID_WINDOW_HANDLE);
        return -1;
    }
    retrieve(lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, PM_REMOVE, true);
    return lpMsg->message == WM_QUIT ? FALSE : TRUE;
}

BOOL PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg) {
    if (!lpMsg) {
        fail(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (hWnd && hWnd != reinterpret_cast<HWND>(intptr_t(-1)) && !find_window(hWnd)) {
        fail(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return retrieve(lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, wRemoveMsg, false) ? TRUE : FALSE;
}

// There are no keyboard messages to translate.
BOOL TranslateMessage(const MSG *) { return FALSE; }

LRESULT DispatchMessageA(const MSG *msg) {
    if (!msg) return 0;
    if (msg->message == WM_TIMER && msg->lParam) {
        // Only a timer procedure that a live timer of this thread names is called: the
        // message may be forged or the timer gone.
        auto q = current_queue();
        TIMERPROC proc = nullptr;
        {
            std::lock_guard<std::mutex> g(q->lock);
            for (auto &t : q->timers)
                if (t.hwnd == msg->hwnd && t.id == UINT_PTR(msg->wParam) &&
                    reinterpret_cast<intptr_t>(t.proc) == msg->lParam)
                    proc = t.proc;
        }
        if (proc) proc(msg->hwnd, WM_TIMER, UINT_PTR(msg->wParam), GetTickCount());
        return 0;
    }
    if (!msg->hwnd) return 0;  // thread messages have no window procedure
    auto w = find_window(msg->hwnd);
    if (!w) {
        fail(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (!owned_here(*w)) {
        fail(ERROR_ACCESS_DENIED);
        return 0;
    }
    WNDPROC proc = w->proc.load();
    return proc ? proc(msg->hwnd, msg->message, msg->wParam, msg->lParam) : 0;
}

void PostQuitMessage(int nExitCode) {
    auto q = current_queue();
    {
        std::lock_guard<std::mutex> g(q->lock);
        q->quit = true;
        q->quit_code = nExitCode;
    }
    q->signal();
}

// ---- Timers.

UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc) {
    std::shared_ptr<Queue> q;
    if (hWnd) {
        auto w = find_window(hWnd);
        if (!w) {
            fail(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        q = w->queue;
    } else {
        q = current_queue();
    }
    const UINT ms = std::clamp<UINT>(uElapse, USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM);
    const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::milliseconds(ms));
    UINT_PTR id = nIDEvent;
    {
        std::lock_guard<std::mutex> g(q->lock);
        if (!q->alive) {
            fail(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        auto same = [&](const Timer &t) { return t.hwnd == hWnd && t.id == id; };
        auto it = std::find_if(q->timers.begin(), q->timers.end(), same);
        if (!hWnd && it == q->timers.end()) {
            // A new thread timer gets an id of its own; the one asked for only names an
            // existing timer to replace.
            do {
                id = q->next_thread_timer++;
                if (id == 0) id = q->next_thread_timer++;
            } while (std::any_of(q->timers.begin(), q->timers.end(), same));
        }
        const Timer t{hWnd, id, period, Clock::now() + period, lpTimerFunc};
        if (it != q->timers.end())
            *it = t;
        else
            q->timers.push_back(t);
    }
    q->signal();
    return hWnd && id == 0 ? 1 : id;
}

BOOL KillTimer(HWND hWnd, UINT_PTR uIDEvent) {
    std::shared_ptr<Queue> q;
    if (hWnd) {
        auto w = find_window(hWnd);
        if (!w) {
            fail(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        q = w->queue;
    } else {
        q = current_queue();
    }
    std::lock_guard<std::mutex> g(q->lock);
    auto it = std::find_if(q->timers.begin(), q->timers.end(),
                           [&](const Timer &t) { return t.hwnd == hWnd && t.id == uIDEvent; });
    if (it == q->timers.end()) {
        fail(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    q->timers.erase(it);
    return TRUE;
}

// ---- Wake-up for foreign loops.

int tw::posix::QueueWakeFd() { return current_queue()->wake_fd; }

int tw::posix::NextTimerDueMs() {
    auto q = current_queue();
    std::lock_guard<std::mutex> g(q->lock);
    if (q->timers.empty()) return -1;
    auto due = q->timers.front().due;
    for (const auto &t : q->timers) due = std::min(due, t.due);
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now()).count();
    return int(std::clamp<long long>(left, 0, USER_TIMER_MAXIMUM));
}

HMODULE GetModuleHandleA(LPCSTR lpModuleName) {
    // The program itself is the only module; its handle is an arbitrary non-null token.
    static char module_token;
    if (lpModuleName) {
        fail(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<HMODULE>(&module_token);
}
