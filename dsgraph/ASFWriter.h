// TASFWriter: the component that puts the WM ASF Writer filter into a TFilterGraph and
// configures it.
//
// While no graph is active it only holds the recording settings. It is a member of its graph
// (IGraphMember): when the graph activates, the writer creates the filter (moBeforeAdd), the
// graph adds it, and the writer applies profile, file name and options, takes the input pins,
// the filter's advanced writer and, with Port and MaxUsers both set, a network sink that serves
// the stream over HTTP (moAfterAdd). On deactivation it stops and disconnects everything
// (moBeforeRemove) and, once the graph has removed the filter, releases it all
// (moAfterRemove).
//
// While the filter is held the writer answers interface queries for it (IConfigAsfWriter,
// IFileSinkFilter2, IServiceProvider, ...), and Profile and FileName read and write the live
// filter.
//
// The writer raises nothing of its own and examines only the results that gate later steps.
// Everything runs on the user-interface thread; there are no locks.
#pragma once

#include "dsgraph/FilterGraph.h"
#include "dsgraph/GraphInterfaces.h"
#include "dsutil/DSUtil.h"
#include "framework/Component.h"
#include "platform/comptr.h"
#include "platform/directshow.h"
#include "platform/wmf.h"

#include <functional>
#include <string>

class TASFWriter : public TComponent, public IGraphMember {
public:
    // Creates a network sink (a new reference in *Sink, null on failure).
    using TNetworkSinkFactory = std::function<HRESULT(IWMWriterNetworkSink **Sink)>;

    explicit TASFWriter(TComponent *AOwner);
    // Detaches from the graph first (an active graph removes and releases the filter at once).
    ~TASFWriter() override;

    // ---- Properties.
    TFilterGraph *FilterGraph() const { return graph_; }
    // Leaves the previous graph (RemoveMember) and joins the new one (AddMember); the same
    // graph again does nothing. The graph is not owned.
    void SetFilterGraph(TFilterGraph *Value);

    // With the filter held: the row of the filter's current profile GUID, or 255 when it has
    // none of the 27; otherwise the stored value.
    TWMPofiles8 Profile();
    // With the filter held: reconfigures the filter at once and leaves the stored value as it
    // is (the next activation applies the stored one); otherwise stores Value. A value outside
    // the 27 rows raises EListError and changes nothing.
    void SetProfile(TWMPofiles8 Value);

    // UTF-8. With the filter held: the filter's current file; otherwise the stored name.
    std::string FileName();
    // Always stores the name; with the filter held also hands it to the filter at once.
    void SetFileName(const std::string &Value);

    // The network sink's HTTP port; after activation with a sink, the port the sink opened.
    DWORD Port() const { return port_; }
    void SetPort(DWORD Value) { port_ = Value; }
    // The network sink's client limit. With Port or MaxUsers 0 no sink is created.
    DWORD MaxUsers() const { return maxUsers_; }
    void SetMaxUsers(DWORD Value) { maxUsers_ = Value; }
    // The filter's options, applied at activation (later changes wait for the next one).
    bool AutoIndex() const { return autoIndex_; }
    void SetAutoIndex(bool Value) { autoIndex_ = Value; }
    bool MultiPass() const { return multiPass_; }
    void SetMultiPass(bool Value) { multiPass_ = Value; }
    bool DontCompress() const { return dontCompress_; }
    void SetDontCompress(bool Value) { dontCompress_ = Value; }

    // How the network sink is made: the platform's WMCreateWriterNetworkSink by default. Tests
    // put a recording sink in here.
    TNetworkSinkFactory CreateNetworkSink;

    // ---- TComponent.
    // A graph that is being destroyed is forgotten without RemoveMember.
    void Notification(TComponent *AComponent, TOperation Operation) override;
    // Stored properties: FilterGraph (a reference), Profile (by name), FileName, Port,
    // MaxUsers, AutoIndex, MultiPass, DontCompress.
    bool ReadProperty(TReader &Reader, const std::string &Name) override;

    // ---- IUnknown: the component's own interfaces (IGraphMember, then the component base's),
    // then, while the filter is held, the filter's, its result returned unchanged. Not counted.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **obj) override;
    ULONG STDMETHODCALLTYPE AddRef() override;   // -1
    ULONG STDMETHODCALLTYPE Release() override;  // -1

    // ---- IGraphMember.
    HRESULT STDMETHODCALLTYPE MemberFilter(IBaseFilter **Filter) override;  // S_FALSE and null when none
    HRESULT STDMETHODCALLTYPE MemberName(std::string &Name) override;
    HRESULT STDMETHODCALLTYPE MemberNotify(TMemberOperation Operation, LONG Param) override;

private:
    void BeforeAdd();
    void AfterAdd();
    void BeforeRemove();
    void AfterRemove();
    // A query through QueryInterface, so that it reaches the filter while it is held.
    template <class I>
    tw::ComPtr<I> Query();

    // The attached graph, not owned. graphComponent_ is the same object as a component, kept
    // so the removal notification can compare pointers while the graph is half destroyed.
    TFilterGraph *graph_ = nullptr;
    TComponent *graphComponent_ = nullptr;
    tw::ComPtr<IBaseFilter> filter_;  // from moBeforeAdd to moAfterRemove
    DWORD port_ = 0;                  // IWMWriterNetworkSink::Open writes the opened port here
    DWORD maxUsers_ = 0;
    TWMPofiles8 profile_ = wmp_V80_255VideoPDA;
    tw::wstring fileName_;
    bool autoIndex_ = true;
    bool multiPass_ = false;
    bool dontCompress_ = false;
    // Held only while filter_ is, each possibly absent even then.
    tw::ComPtr<IWMWriterAdvanced2> advancedWriter_;
    tw::ComPtr<IWMWriterNetworkSink> networkSink_;
    tw::ComPtr<IPin> firstPin_;
    tw::ComPtr<IPin> secondPin_;
};
