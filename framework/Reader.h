// Stored descriptions: a form and its components created from text.
//
// The text is a tree of blocks, each naming a component and its class, with its stored
// properties in the order they are set:
//
//   object Form1: TForm1
//     Caption = 'Text'               strings in single quotes ('' for a quote), UTF-8
//     ClientWidth = 404              integers
//     Color = clBtnFace              identifiers (enumerations, colours, True/False)
//     Font.Height = -12              dotted names reach a property's own properties
//     BorderIcons = [biSystemMenu]   sets
//     Items.Strings = ('a' 'b')      lists of strings
//     OnCreate = FormCreate          events name a handler the root publishes
//     object Label1: TLabel          children, created in this order, owned by the root
//       ...
//     end
//   end
//
// A property naming another component (FilterGraph = FilterGraph1) is applied after every
// component exists. Then every component's Loaded runs, in creation order.
#pragma once

#include "framework/Component.h"

#include <any>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

class EReadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TPropValue {
    enum class Kind { Integer, String, Ident, Set, List };
    Kind kind = Kind::Integer;
    int64_t integer = 0;
    std::string text;                // a string or an identifier
    std::vector<std::string> items;  // a set's identifiers or a list's strings
};

class TReader {
public:
    TReader(TComponent *Root, std::string_view Text);
    // Creates the children, sets every property, resolves the references, runs Loaded.
    void ReadRoot();

    // The value being read; the accessors below throw EReadError on a value of another kind.
    const TPropValue &Value() const { return value_; }
    int32_t ReadInteger() const;
    std::string ReadString() const;
    // A string naming a file, as the platform spells it (tw::NativePath).
    std::string ReadFileName() const;
    std::string ReadIdent() const;
    bool ReadBool() const;
    std::vector<std::string> ReadStrings() const;  // a list
    std::vector<std::string> ReadSet() const;

    // The root's handler named by the value, as the event type F. Empty for an unknown name
    // is an error: a description that names a handler must find it.
    template <class F>
    F ReadMethod() const {
        std::any m = root_->MethodAddress(ReadIdent());
        if (const F *f = std::any_cast<F>(&m)) return *f;
        throw Error("Invalid property value");
    }
    // Calls Apply with the component the value names, once all components exist; an unknown
    // name is an error then.
    void ReadReference(std::function<void(TComponent *)> Apply);

    EReadError Error(const std::string &What) const;

private:
    struct Fixup {
        std::string component, property, target;
        std::function<void(TComponent *)> apply;
        int line;  // where the reference stands, for the error
    };

    void ReadObject(TComponent *Instance, bool IsRoot);
    void ReadValue();
    std::string NextToken();
    std::string PeekToken();
    void SkipSpace();
    std::string ExpectIdent();

    TComponent *root_;
    std::string_view text_;
    size_t pos_ = 0;
    int line_ = 1;
    TPropValue value_;
    std::string current_component_, current_property_;
    std::vector<Fixup> fixups_;
    std::vector<TComponent *> created_;
};

// The classes a description may name. Registered once, at start-up.
using TComponentFactory = std::function<TComponent *(TComponent *Owner)>;
void RegisterComponentClass(const std::string &ClassName, TComponentFactory Factory);
template <class T>
void RegisterComponentClass(const std::string &ClassName) {
    RegisterComponentClass(ClassName, [](TComponent *Owner) -> TComponent * { return new T(Owner); });
}

// Creates Root's components from Text and sets Root's properties. Throws EReadError with the
// line and the property on a description it cannot read.
void ReadComponentRes(TComponent *Root, std::string_view Text);
