// What IGraphBuilder::RenderFile and intelligent connect may use: source openers and
// transform candidates (decoders).
//
// RenderFile asks the openers in order: first those registered at run time (tests put their
// own in front this way), then the built-in table of builtin_source_openers(). An opener
// answers:
//   S_OK       with a new source filter in *source (not yet in the graph; the graph adds it
//              under the URL as its name);
//   S_FALSE    "not mine" (*source stays null): the next opener is asked;
//   a failure  the URL is the opener's kind but cannot be opened; RenderFile/AddSourceFilter
//              return that code as it is (HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND),
//              VFW_E_UNKNOWN_FILE_TYPE, VFW_E_INVALID_FILE_FORMAT, E_ABORT, ...).
// When every opener says S_FALSE the result is VFW_E_UNKNOWN_FILE_TYPE.
//
// Transform candidates are tried when no pin in the graph takes an output pin's type
// directly: run-time registrations first, then builtin_transforms(), each asked
// `accepts(type)` for the output pin's types in order. A candidate that accepts is created,
// added to the graph under its name, connected, and its own output pins rendered in turn; when
// that leads nowhere it is removed again.
//
// Openers and candidates are called on the thread of the graph operation, without any lock of
// the graph held; they may block (network) but should poll OpenContext::aborted().
#pragma once

#include "platform/directshow.h"

#include <atomic>
#include <functional>
#include <string>
#include <vector>

namespace tw::posix {

// What an opener may ask of the graph operation it runs in. Valid during the call only.
class OpenContext {
public:
    OpenContext(const std::atomic<bool> *abort_flag, std::function<void(const std::string &)> log)
        : abort_(abort_flag), log_(std::move(log)) {}
    // True once IGraphBuilder::Abort was called for the running operation: return E_ABORT.
    bool aborted() const { return abort_ && abort_->load(); }
    // A line for the graph's log (SetLogFile); nothing happens without a log.
    void log(const std::string &line) const {
        if (log_) log_(line);
    }

private:
    const std::atomic<bool> *abort_;
    std::function<void(const std::string &)> log_;
};

struct SourceOpener {
    const char *name;  // for the log
    HRESULT (*open)(LPCWSTR url, const OpenContext &ctx, IBaseFilter **source);
};

struct TransformCandidate {
    const char *name;  // UTF-8; the name the filter is added to the graph under
    bool (*accepts)(const AM_MEDIA_TYPE &input);
    HRESULT (*create)(IBaseFilter **filter);
};

// The built-in tables, defined with the other registrations in platform/posix/registry.cpp.
const SourceOpener *builtin_source_openers(size_t *count);
const TransformCandidate *builtin_transforms(size_t *count);

// Run-time registrations, ahead of the built-in tables; each returns a cookie for the revoke.
// Thread-safe. A render in progress keeps using the set it started with.
DWORD register_source_opener(const SourceOpener &opener);
void revoke_source_opener(DWORD cookie);
DWORD register_transform(const TransformCandidate &candidate);
void revoke_transform(DWORD cookie);

// Everything a render uses, in order (run-time first, then built-in).
std::vector<SourceOpener> current_source_openers();
std::vector<TransformCandidate> current_transforms();

}  // namespace tw::posix
