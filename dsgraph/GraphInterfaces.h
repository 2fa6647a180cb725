// The two interfaces through which a graph component keeps its attached components informed.
//
// Both are used in-process only: never registered with COM, never marshalled. The components
// that implement them do not count references (AddRef and Release return -1); a graph holds
// them as plain pointers, and each component removes itself from its graph before it dies.
#pragma once

#include "platform/com.h"
#include "platform/directshow.h"

#include <cstdint>
#include <string>

// What the graph is about to do, or has just done, with a member's filter.
enum TMemberOperation : int32_t { moBeforeAdd = 0, moAfterAdd = 1, moBeforeRemove = 2, moAfterRemove = 3 };

// A control action of the graph passed to its listeners. 5 and 6 are not used; gaPause is
// sent by no graph operation (listeners treat it like gaStop).
enum TGraphAction : int32_t {
    gaRun = 0,
    gaPause = 1,
    gaStop = 2,
    gaRenderFile = 3,
    gaFileRendered = 4,
    gaActivation = 7,
};

// {887F94DA-29E9-44C6-B48E-1FBF0FB59878}: a component that owns one filter and wants it in the
// graph whenever the graph exists.
struct IGraphMember : public IUnknown {
    // The member's filter as a new reference (or null). Asked right after moBeforeAdd and
    // right after moBeforeRemove.
    virtual HRESULT STDMETHODCALLTYPE MemberFilter(IBaseFilter **Filter) = 0;
    // The name (UTF-8) under which the filter is added to the graph.
    virtual HRESULT STDMETHODCALLTYPE MemberName(std::string &Name) = 0;
    // Param is always 0.
    virtual HRESULT STDMETHODCALLTYPE MemberNotify(TMemberOperation Operation, LONG Param) = 0;
};
TW_DECLARE_IID(IGraphMember, 0x887F94DA, 0x29E9, 0x44C6, 0xB4, 0x8F, 0x1F, 0xBF, 0x0F, 0xB5, 0x98, 0x78);

// {6C0DCD7B-1A98-44EF-A6D5-E23CBC24E620}: a control that follows the graph.
struct IGraphListener : public IUnknown {
    // One graph event as drained from the graph's queue, before its parameters are freed.
    // The parameters are pointer-sized (LONG_PTR): 32 bits on Windows as the platform has
    // them; on 64-bit Linux they carry interface pointers and addresses whole.
    virtual HRESULT STDMETHODCALLTYPE NotifyEvent(LONG Event, LONG_PTR Param1, LONG_PTR Param2) = 0;
    virtual HRESULT STDMETHODCALLTYPE NotifyAction(TGraphAction Action, LONG Param) = 0;
};
TW_DECLARE_IID(IGraphListener, 0x6C0DCD7B, 0x1A98, 0x44EF, 0xA6, 0xD5, 0xE2, 0x3C, 0xBC, 0x24, 0xE6, 0x20);
