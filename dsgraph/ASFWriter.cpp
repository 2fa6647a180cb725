#include "dsgraph/ASFWriter.h"

#include "dsgraph/FilterGraph.h"
#include "framework/Reader.h"
#include "platform/text.h"
#include "platform/wmsink.h"

#include <string>

TASFWriter::TASFWriter(TComponent *AOwner)
    : TComponent(AOwner), CreateNetworkSink(tw::WMCreateWriterNetworkSinkChecked) {}

TASFWriter::~TASFWriter() {
    BeginDestruction();
    SetFilterGraph(nullptr);
}

// ---- Properties

void TASFWriter::SetFilterGraph(TFilterGraph *Value) {
    if (Value == graph_) return;
    if (graph_) {
        TFilterGraph *previous = graph_;
        // Forget the old graph first, so a failure while joining the new one leaves no stale
        // reference behind.
        graph_ = nullptr;
        graphComponent_ = nullptr;
        previous->RemoveFreeNotification(this);
        previous->RemoveMember(this);
    }
    if (Value) {
        // Whatever owns the graph, its destruction reaches Notification, where it is forgotten.
        Value->FreeNotification(this);
        Value->AddMember(this);
    }
    graph_ = Value;
    graphComponent_ = Value;
}

template <class I>
tw::ComPtr<I> TASFWriter::Query() {
    tw::ComPtr<I> result;
    if (FAILED(QueryInterface(tw::iid_of<I>(), result.out_void()))) result.detach();  // a failure hands out nothing
    return result;
}

TWMPofiles8 TASFWriter::Profile() {
    if (auto config = Query<IConfigAsfWriter>()) {
        GUID current{};
        if (FAILED(config->GetCurrentProfileGuid(&current))) return static_cast<TWMPofiles8>(255);
        return ProfileFromGuid(current);
    }
    return profile_;
}

void TASFWriter::SetProfile(TWMPofiles8 Value) {
    // The table has 27 rows; anything else would read past it.
    if (static_cast<unsigned>(Value) >= 27) throw EListError("List index out of bounds (" + std::to_string(Value) + ")");
    if (auto config = Query<IConfigAsfWriter>()) {
        config->ConfigureFilterUsingProfileGuid(ProfileGUIDs[Value]);
        return;
    }
    profile_ = Value;
}

std::string TASFWriter::FileName() {
    if (auto sink = Query<IFileSinkFilter2>()) {
        LPOLESTR current = nullptr;
        if (SUCCEEDED(sink->GetCurFile(&current, nullptr))) {
            std::string name = tw::to_utf8(current);
            CoTaskMemFree(current);  // the caller's to free
            return name;
        }
        // The filter could not say: the name we gave it is the best answer.
    }
    return tw::to_utf8(fileName_);
}

void TASFWriter::SetFileName(const std::string &Value) {
    fileName_ = tw::to_wide(Value);
    if (auto sink = Query<IFileSinkFilter2>()) sink->SetFileName(fileName_.c_str(), nullptr);
}

// ---- TComponent

void TASFWriter::Notification(TComponent *AComponent, TOperation Operation) {
    TComponent::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent && AComponent == graphComponent_) {
        graph_ = nullptr;
        graphComponent_ = nullptr;
    }
}

// ---- IUnknown

HRESULT STDMETHODCALLTYPE TASFWriter::QueryInterface(REFIID iid, void **obj) {
    if (!obj) return E_POINTER;
    *obj = nullptr;
    if (IsEqualGUID(iid, tw::iid_of<IGraphMember>())) {
        *obj = static_cast<IGraphMember *>(this);
        return S_OK;
    }
    HRESULT hr = TComponent::QueryInterface(iid, obj);
    if (SUCCEEDED(hr) || !filter_) return hr;
    return filter_->QueryInterface(iid, obj);
}

// Members do not count references: the owner governs the writer's lifetime.
ULONG STDMETHODCALLTYPE TASFWriter::AddRef() { return static_cast<ULONG>(-1); }
ULONG STDMETHODCALLTYPE TASFWriter::Release() { return static_cast<ULONG>(-1); }

// ---- IGraphMember

HRESULT STDMETHODCALLTYPE TASFWriter::MemberFilter(IBaseFilter **Filter) {
    if (!Filter) return E_POINTER;
    *Filter = tw::ComPtr<IBaseFilter>(filter_).detach();
    return *Filter ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE TASFWriter::MemberName(std::string &Name) {
    Name = TComponent::Name();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TASFWriter::MemberNotify(TMemberOperation Operation, LONG) {
    switch (Operation) {
    case moBeforeAdd: BeforeAdd(); break;
    case moAfterAdd: AfterAdd(); break;
    case moBeforeRemove: BeforeRemove(); break;
    case moAfterRemove: AfterRemove(); break;
    default: break;
    }
    return S_OK;
}

// The graph is about to add the filter: make a new one. On failure there is none, and the
// other notifications and the accessors fall back to the stored values.
void TASFWriter::BeforeAdd() {
    filter_ = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_WMAsfWriter, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                                  tw::iid_of<IBaseFilter>(), filter_.out_void());
    if (FAILED(hr)) filter_.detach();  // a failed creation hands out nothing
}

// The filter is in the graph: configure it, take its pins, its writer and the network sink.
void TASFWriter::AfterAdd() {
    if (!filter_) return;
    SetProfile(profile_);
    SetFileName(tw::to_utf8(fileName_));
    if (auto config = Query<IConfigAsfWriter2>()) {
        config->SetParam(AM_CONFIGASFWRITER_PARAM_AUTOINDEX, autoIndex_ ? 1 : 0, 0);
        config->SetParam(AM_CONFIGASFWRITER_PARAM_MULTIPASS, multiPass_ ? 1 : 0, 0);
        config->SetParam(AM_CONFIGASFWRITER_PARAM_DONTCOMPRESS, dontCompress_ ? 1 : 0, 0);
    }
    {
        TPinList pins(filter_.get());
        if (pins.Count() == 0) return;
        firstPin_ = pins.Items(0);
        // With three or more inputs only the first is kept.
        secondPin_ = pins.Count() == 2 ? pins.Items(1) : nullptr;
    }
    if (auto services = Query<IServiceProvider>()) {
        advancedWriter_ = nullptr;
        if (FAILED(services->QueryService(IID_IWMWriterAdvanced2, IID_IWMWriterAdvanced2,
                                          advancedWriter_.out_void())))
            advancedWriter_.detach();
    }
    if (port_ != 0 && maxUsers_ != 0 && CreateNetworkSink) {
        networkSink_ = nullptr;
        if (FAILED(CreateNetworkSink(networkSink_.out()))) {
            networkSink_.detach();  // a failed creation hands out nothing
            return;
        }
        // The sink is fed only through the advanced writer. Without one it could serve nothing,
        // so no port is opened and the sink goes again.
        if (!networkSink_ || !advancedWriter_) {
            networkSink_ = nullptr;
            return;
        }
        networkSink_->SetNetworkProtocol(WMT_PROTOCOL_HTTP);
        networkSink_->SetMaximumClients(maxUsers_);
        networkSink_->Open(&port_);  // the sink reports the port it opened
        advancedWriter_->AddSink(networkSink_.get());
    }
}

// The graph is about to remove the filter: stop it and cut its connections.
void TASFWriter::BeforeRemove() {
    if (filter_) filter_->Stop();
    if (networkSink_) {
        networkSink_->Disconnect();
        networkSink_->Close();
    }
    if (firstPin_) firstPin_->Disconnect();
    if (secondPin_) secondPin_->Disconnect();
}

// The filter is out of the graph: let go of everything. The properties keep their values.
void TASFWriter::AfterRemove() {
    advancedWriter_ = nullptr;
    networkSink_ = nullptr;
    firstPin_ = nullptr;
    secondPin_ = nullptr;
    filter_ = nullptr;
}

bool TASFWriter::ReadProperty(TReader &Reader, const std::string &Name) {
    if (Name == "FilterGraph") {
        Reader.ReadReference([this, &Reader](TComponent *Target) {
            auto *graph = dynamic_cast<TFilterGraph *>(Target);
            if (!graph) throw Reader.Error("Invalid property value: " + Target->Name() + " is no filter graph");
            SetFilterGraph(graph);
        });
    } else if (Name == "Profile") {
        const std::string v = Reader.ReadIdent();
        int row = -1;
        for (int i = 0; i < 27; ++i)
            if (v == tw::ProfileNames[i]) row = i;
        if (row < 0) throw Reader.Error("Invalid property value");
        SetProfile(static_cast<TWMPofiles8>(row));
    } else if (Name == "FileName") {
        SetFileName(Reader.ReadFileName());
    } else if (Name == "Port") {
        SetPort(static_cast<DWORD>(Reader.ReadInteger()));
    } else if (Name == "MaxUsers") {
        SetMaxUsers(static_cast<DWORD>(Reader.ReadInteger()));
    } else if (Name == "AutoIndex") {
        SetAutoIndex(Reader.ReadBool());
    } else if (Name == "MultiPass") {
        SetMultiPass(Reader.ReadBool());
    } else if (Name == "DontCompress") {
        SetDontCompress(Reader.ReadBool());
    } else {
        return TComponent::ReadProperty(Reader, Name);
    }
    return true;
}
