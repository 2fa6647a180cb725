// DSUtil: what the DirectShow components share.
//
// - The exception hierarchy: one general Exception carrying a message, and the exceptions the
//   components raise on top of it (a failed DirectShow call, a list index out of range, an
//   interface a reference does not support, no timer left).
// - CheckGraphResult, the one place where a failed HRESULT becomes an exception.
// - Registration of a graph in the running object table, so an external graph editor can find
//   and attach to it.
// - DVD time-code unpacking and reference time to milliseconds.
// - TFilterList / TPinList: snapshots of a graph's filters and a filter's pins, holding their
//   own references, so a graph can be changed while it is walked.
// - The 27 Windows Media 8 system profiles: TWMPofiles8, their GUIDs and names.
//
// Everything here runs on the user-interface thread, except that an interface list may be
// shared between threads operation by operation (each operation takes the list's own lock).
#pragma once

#include "platform/com.h"
#include "platform/comptr.h"
#include "platform/directshow.h"

#include <cstdint>
#include <exception>
#include <mutex>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------------------------
// Exceptions

// The general exception class; every exception the components raise derives from it.
class Exception : public std::exception {
public:
    explicit Exception(std::string message);
    const std::string &Message() const { return message_; }
    const char *what() const noexcept override { return message_.c_str(); }
    int HelpContext() const { return 0; }

private:
    std::string message_;
};

// A DirectShow call failed. Raised by CheckGraphResult only.
class EDirectShowException : public Exception {
public:
    EDirectShowException(std::string message, HRESULT code);
    HRESULT ResultCode() const { return code_; }

private:
    HRESULT code_;
};

// An index outside 0 .. Count - 1: "List index out of bounds (%d)".
class EListError : public Exception {
    using Exception::Exception;
};

// A reference that does not answer for the interface asked of it.
class EIntfCastError : public Exception {
    using Exception::Exception;
};

// A system resource is exhausted ("Not enough timers available").
class EOutOfResources : public Exception {
    using Exception::Exception;
};

// ---------------------------------------------------------------------------------------------
// Error reporting

// Returns hr when it is a success code (S_FALSE and other positive codes included); otherwise
// raises EDirectShowException with the message "<text> ($<HEX>)." and ResultCode hr.
HRESULT CheckGraphResult(HRESULT hr);

// The system's error text for hr (AMGetErrorTextA): at most 255 characters, trailing CR/LF
// removed; empty when the system has none.
std::string DirectShowErrorText(HRESULT hr);

// ---------------------------------------------------------------------------------------------
// Running object table

// Registers Graph under the item moniker "!" + "FilterGraph <address> pid <pid>" (flags 0).
// Writes Cookie only on success. Never raises; returns the result of the step that failed.
HRESULT RotRegisterGraph(IUnknown *Graph, DWORD &Cookie);
// Revokes a registration made by RotRegisterGraph. Never raises.
HRESULT RotRevokeGraph(DWORD Cookie);

// ---------------------------------------------------------------------------------------------
// Time

// A DVD time code unpacked into one byte per digit (see SplitDVDTimeCode).
struct tagDVD_TIMECODE {
    BYTE Hours1, Hours10, Minutes1, Minutes10, Seconds1, Seconds10, Frames1, Frames10, FrameRateCode;
};

// Fills Rec from the packed 32-bit value, most significant group first: four bits each for
// the fields up to Frames1, two bits each for Frames10 and FrameRateCode.
void SplitDVDTimeCode(DWORD Value, tagDVD_TIMECODE &Rec);

// 100-ns units to milliseconds, truncated toward zero.
int64_t RefTimeToMilliseconds(REFERENCE_TIME t);

// ---------------------------------------------------------------------------------------------
// Interface lists

// An ordered list of counted IUnknown references. Duplicates are allowed; identity is the
// pointer. Each operation holds the list's own lock for its span; references are released
// after the lock is dropped, since a Release may run arbitrary destructors.
class TInterfaceList {
public:
    TInterfaceList() = default;
    TInterfaceList(const TInterfaceList &) = delete;
    TInterfaceList &operator=(const TInterfaceList &) = delete;
    virtual ~TInterfaceList();

    int Count() const;
    // Appends Item (AddRef) and returns its index.
    int Add(IUnknown *Item);
    // Index of the first entry equal to Item, or -1.
    int IndexOf(IUnknown *Item) const;
    // Removes the first entry equal to Item (Release); returns its former index, or -1.
    int Remove(IUnknown *Item);
    // Removes the entry at Index (Release); EListError when out of range.
    void Delete(int Index);
    // Releases every entry.
    void Clear();
    // A new reference to the entry at Index; EListError when out of range.
    tw::ComPtr<IUnknown> Get(int Index) const;

private:
    mutable std::mutex lock_;  // guards items_
    std::vector<tw::ComPtr<IUnknown>> items_;
};

// The filters of a graph at the moment the list is built.
class TFilterList : public TInterfaceList {
public:
    explicit TFilterList(IFilterGraph *Graph);  // Graph may be null: the list is empty
    ~TFilterList() override;

    // The entry as IBaseFilter: EListError out of range, EIntfCastError if it is no filter.
    tw::ComPtr<IBaseFilter> Items(int Index) const;
    int Add(IBaseFilter *Filter);
    // Index the first equal pointer had, or -1; that entry is removed and released.
    int Remove(IBaseFilter *Filter);

    tw::ComPtr<IFilterGraph> GraphRef;  // the graph the list was built from (may be null)
};

// The pins of a filter at the moment the list is built, in the filter's order.
class TPinList : public TInterfaceList {
public:
    explicit TPinList(IBaseFilter *Filter);  // Filter may be null: the list is empty
    ~TPinList() override;                     // releases FilterRef before the entries

    tw::ComPtr<IPin> Items(int Index) const;
    int Add(IPin *Pin);

    tw::ComPtr<IBaseFilter> FilterRef;  // the filter the list was built from (may be null)
};

// ---------------------------------------------------------------------------------------------
// Windows Media 8 system profiles

enum TWMPofiles8 : uint8_t {
    wmp_V80_255VideoPDA,
    wmp_V80_150VideoPDA,
    wmp_V80_28856VideoMBR,
    wmp_V80_100768VideoMBR,
    wmp_V80_288100VideoMBR,
    wmp_V80_288Video,
    wmp_V80_56Video,
    wmp_V80_100Video,
    wmp_V80_256Video,
    wmp_V80_384Video,
    wmp_V80_768Video,
    wmp_V80_700NTSCVideo,
    wmp_V80_1400NTSCVideo,
    wmp_V80_384PALVideo,
    wmp_V80_700PALVideo,
    wmp_V80_288MonoAudio,
    wmp_V80_288StereoAudio,
    wmp_V80_32StereoAudio,
    wmp_V80_48StereoAudio,
    wmp_V80_64StereoAudio,
    wmp_V80_96StereoAudio,
    wmp_V80_128StereoAudio,
    wmp_V80_288VideoOnly,
    wmp_V80_56VideoOnly,
    wmp_V80_FAIRVBRVideo,
    wmp_V80_HIGHVBRVideo,
    wmp_V80_BESTVBRVideo,
};

// The runtime's GUID of each profile, indexed by TWMPofiles8.
extern const GUID ProfileGUIDs[27];

// The first row whose GUID equals Guid, or static_cast<TWMPofiles8>(255) when none does.
TWMPofiles8 ProfileFromGuid(REFGUID Guid);

namespace tw {
// The member names, which double as the profiles' display names ("wmp_V80_255VideoPDA", ...).
extern const char *const ProfileNames[27];

// "<text> ($<HEX>).": the message CheckGraphResult raises, with text taken literally.
std::string DirectShowErrorMessage(const std::string &text, HRESULT hr);

// "FilterGraph <address> pid <pid>": the address in uppercase hexadecimal at the full width of
// a pointer (8 digits on 32-bit, 16 on 64-bit), the process id in uppercase hexadecimal without
// leading zeros.
std::string RotGraphName(const void *address, DWORD pid);
}  // namespace tw
