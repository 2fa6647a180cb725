// Exceptions, the error check, running-object-table registration and the time helpers.
#include "dsutil/DSUtil.h"

#include "platform/directshow.h"
#include "platform/text.h"

#include <cstring>
#include <utility>

Exception::Exception(std::string message) : message_(std::move(message)) {}

EDirectShowException::EDirectShowException(std::string message, HRESULT code)
    : Exception(std::move(message)), code_(code) {}

namespace {

// Uppercase hexadecimal, padded with zeros to at least min_digits.
std::string hex_upper(uint64_t value, size_t min_digits) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    do {
        out.insert(out.begin(), kDigits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    if (out.size() < min_digits) out.insert(0, min_digits - out.size(), '0');
    return out;
}

}  // namespace

namespace tw {

std::string DirectShowErrorMessage(const std::string &text, HRESULT hr) {
    return text + " ($" + hex_upper(static_cast<uint32_t>(hr), 1) + ").";
}

std::string RotGraphName(const void *address, DWORD pid) {
    return "FilterGraph " + hex_upper(reinterpret_cast<uintptr_t>(address), sizeof(void *) * 2) + " pid " +
           hex_upper(pid, 1);
}

}  // namespace tw

std::string DirectShowErrorText(HRESULT hr) {
    char buffer[256];
    std::memset(buffer, 0, sizeof buffer);
    AMGetErrorTextA(hr, buffer, 255);  // the count it returns is not needed: the text is NUL-ended
    size_t n = strnlen(buffer, 255);
    // System message texts end in CR LF; the message built from them is one line.
    while (n > 0 && (buffer[n - 1] == '\r' || buffer[n - 1] == '\n')) --n;
    return std::string(buffer, n);
}

HRESULT CheckGraphResult(HRESULT hr) {
    if (SUCCEEDED(hr)) return hr;
    throw EDirectShowException(tw::DirectShowErrorMessage(DirectShowErrorText(hr), hr), hr);
}

HRESULT RotRegisterGraph(IUnknown *Graph, DWORD &Cookie) {
    tw::ComPtr<IRunningObjectTable> table;
    HRESULT hr = GetRunningObjectTable(0, table.out());
    if (hr != S_OK) return hr;
    const tw::wstring name = tw::to_wide(tw::RotGraphName(Graph, GetCurrentProcessId()));
    tw::ComPtr<IMoniker> moniker;
    hr = CreateItemMoniker(OLESTR("!"), name.c_str(), moniker.out());
    if (hr != S_OK) return hr;
    // Flags 0: the table does not keep the graph alive; the graph revokes before it goes.
    return table->Register(0, Graph, moniker.get(), &Cookie);
}

HRESULT RotRevokeGraph(DWORD Cookie) {
    tw::ComPtr<IRunningObjectTable> table;
    HRESULT hr = GetRunningObjectTable(0, table.out());
    if (hr != S_OK) return hr;
    return table->Revoke(Cookie);
}

void SplitDVDTimeCode(DWORD Value, tagDVD_TIMECODE &Rec) {
    Rec.Hours1 = static_cast<BYTE>((Value >> 28) & 0xF);
    Rec.Hours10 = static_cast<BYTE>((Value >> 24) & 0xF);
    Rec.Minutes1 = static_cast<BYTE>((Value >> 20) & 0xF);
    Rec.Minutes10 = static_cast<BYTE>((Value >> 16) & 0xF);
    Rec.Seconds1 = static_cast<BYTE>((Value >> 12) & 0xF);
    Rec.Seconds10 = static_cast<BYTE>((Value >> 8) & 0xF);
    Rec.Frames1 = static_cast<BYTE>((Value >> 4) & 0xF);
    Rec.Frames10 = static_cast<BYTE>((Value >> 2) & 0x3);
    Rec.FrameRateCode = static_cast<BYTE>(Value & 0x3);
}

int64_t RefTimeToMilliseconds(REFERENCE_TIME t) { return static_cast<int64_t>(t) / 10000; }
