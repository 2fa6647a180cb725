#include "framework/Reader.h"

#include "platform/paths.h"

#include <cctype>
#include <map>
#include <memory>

namespace {

// Filled at start-up, before any description is read; only read afterwards.
std::map<std::string, TComponentFactory> &Classes() {
    static std::map<std::string, TComponentFactory> classes;
    return classes;
}

bool IsIdentChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.'; }

}  // namespace

void RegisterComponentClass(const std::string &ClassName, TComponentFactory Factory) {
    Classes()[ClassName] = std::move(Factory);
}

TReader::TReader(TComponent *Root, std::string_view Text) : root_(Root), text_(Text) {}

EReadError TReader::Error(const std::string &What) const {
    std::string where = "line " + std::to_string(line_);
    if (!current_component_.empty()) {
        where += ", " + current_component_;
        if (!current_property_.empty()) where += "." + current_property_;
    }
    return EReadError("Error reading " + where + ": " + What);
}

void TReader::SkipSpace() {
    while (pos_ < text_.size()) {
        char c = text_[pos_];
        if (c == '\n') {
            ++line_;
            ++pos_;
        } else if (std::isspace(static_cast<unsigned char>(c))) {
            ++pos_;
        } else {
            break;
        }
    }
}

std::string TReader::PeekToken() {
    const size_t pos = pos_;
    const int line = line_;
    std::string t = NextToken();
    pos_ = pos;
    line_ = line;
    return t;
}

// Tokens: identifiers (with dots), integers (with a sign), quoted strings (returned with
// their opening quote so that they cannot be mistaken for identifiers), and single
// punctuation characters. An empty token is the end of the text.
std::string TReader::NextToken() {
    SkipSpace();
    if (pos_ >= text_.size()) return {};
    const char c = text_[pos_];
    if (c == '\'') {
        std::string s = "'";
        ++pos_;
        for (;;) {
            if (pos_ >= text_.size() || text_[pos_] == '\n') throw Error("Unterminated string");
            if (text_[pos_] == '\'') {
                if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '\'') {
                    s += '\'';
                    pos_ += 2;
                    continue;
                }
                ++pos_;
                return s;
            }
            s += text_[pos_++];
        }
    }
    if (c == '-' || c == '+' || std::isdigit(static_cast<unsigned char>(c))) {
        size_t start = pos_++;
        while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_]))) ++pos_;
        return std::string(text_.substr(start, pos_ - start));
    }
    if (IsIdentChar(c)) {
        size_t start = pos_;
        while (pos_ < text_.size() && IsIdentChar(text_[pos_])) ++pos_;
        return std::string(text_.substr(start, pos_ - start));
    }
    ++pos_;
    return std::string(1, c);
}

std::string TReader::ExpectIdent() {
    std::string t = NextToken();
    if (t.empty() || !(std::isalpha(static_cast<unsigned char>(t[0])) || t[0] == '_'))
        throw Error("Identifier expected but '" + t + "' found");
    return t;
}

void TReader::ReadValue() {
    value_ = {};
    std::string t = NextToken();
    if (t.empty()) throw Error("Value expected");
    if (t[0] == '\'') {
        value_.kind = TPropValue::Kind::String;
        value_.text = t.substr(1);
        // Adjacent strings joined with '+' make one string.
        while (PeekToken() == "+") {
            NextToken();
            std::string more = NextToken();
            if (more.empty() || more[0] != '\'') throw Error("String expected");
            value_.text += more.substr(1);
        }
    } else if (t[0] == '-' || t[0] == '+' || std::isdigit(static_cast<unsigned char>(t[0]))) {
        value_.kind = TPropValue::Kind::Integer;
        try {
            value_.integer = std::stoll(t);
        } catch (const std::exception &) {
            throw Error("Invalid integer '" + t + "'");
        }
    } else if (t == "[") {
        value_.kind = TPropValue::Kind::Set;
        for (std::string item = NextToken(); item != "]"; item = NextToken()) {
            if (item == ",") continue;
            if (item.empty()) throw Error("']' expected");
            value_.items.push_back(item);
        }
    } else if (t == "(") {
        value_.kind = TPropValue::Kind::List;
        for (std::string item = NextToken(); item != ")"; item = NextToken()) {
            if (item.empty() || item[0] != '\'') throw Error("String expected in a list");
            value_.items.push_back(item.substr(1));
        }
    } else if (std::isalpha(static_cast<unsigned char>(t[0])) || t[0] == '_') {
        value_.kind = TPropValue::Kind::Ident;
        value_.text = t;
    } else {
        throw Error("Invalid value '" + t + "'");
    }
}

int32_t TReader::ReadInteger() const {
    if (value_.kind != TPropValue::Kind::Integer || value_.integer < INT32_MIN || value_.integer > INT32_MAX)
        throw Error("Invalid property value");
    return static_cast<int32_t>(value_.integer);
}

std::string TReader::ReadString() const {
    if (value_.kind != TPropValue::Kind::String) throw Error("Invalid property value");
    return value_.text;
}

std::string TReader::ReadFileName() const { return tw::NativePath(ReadString()); }

std::string TReader::ReadIdent() const {
    if (value_.kind != TPropValue::Kind::Ident) throw Error("Invalid property value");
    return value_.text;
}

bool TReader::ReadBool() const {
    const std::string v = ReadIdent();
    if (v == "True") return true;
    if (v == "False") return false;
    throw Error("Invalid property value");
}

std::vector<std::string> TReader::ReadStrings() const {
    if (value_.kind != TPropValue::Kind::List) throw Error("Invalid property value");
    return value_.items;
}

std::vector<std::string> TReader::ReadSet() const {
    if (value_.kind != TPropValue::Kind::Set) throw Error("Invalid property value");
    return value_.items;
}

void TReader::ReadReference(std::function<void(TComponent *)> Apply) {
    fixups_.push_back({current_component_, current_property_, ReadIdent(), std::move(Apply), line_});
}

void TReader::ReadObject(TComponent *Instance, bool IsRoot) {
    if (!IsRoot) {
        Instance->SetParentComponent(root_);
        created_.push_back(Instance);
    }
    Instance->SetLoading(true);
    for (;;) {
        std::string t = PeekToken();
        if (t.empty()) throw Error("'end' expected");
        if (t == "end") {
            NextToken();
            return;
        }
        if (t == "object") {
            NextToken();
            const std::string name = ExpectIdent();
            if (NextToken() != ":") throw Error("':' expected");
            const std::string cls = ExpectIdent();
            auto it = Classes().find(cls);
            current_component_ = name;
            current_property_.clear();
            if (it == Classes().end()) throw Error("Class " + cls + " not found");
            // Children belong to the root, whatever block they stand in: a form owns every
            // component of its description.
            TComponent *child = it->second(root_);
            child->SetName(name);
            ReadObject(child, false);
            current_component_ = IsRoot ? root_->Name() : Instance->Name();
            continue;
        }
        const std::string prop = ExpectIdent();
        if (NextToken() != "=") throw Error("'=' expected");
        current_component_ = Instance->Name();
        current_property_ = prop;
        ReadValue();
        if (!Instance->ReadProperty(*this, prop)) throw Error("Property " + prop + " does not exist");
        current_property_.clear();
    }
}

void TReader::ReadRoot() {
    if (NextToken() != "object") throw Error("'object' expected");
    const std::string name = ExpectIdent();
    if (NextToken() != ":") throw Error("':' expected");
    ExpectIdent();  // the root's class: the root already is an instance of it
    root_->SetName(name);
    current_component_ = name;
    ReadObject(root_, true);
    if (!NextToken().empty()) throw Error("Text after the final 'end'");

    for (const Fixup &f : fixups_) {
        TComponent *target = nullptr;
        if (f.target == root_->Name()) target = root_;
        for (int i = 0; !target && i < root_->ComponentCount(); ++i)
            if (root_->Components(i)->Name() == f.target) target = root_->Components(i);
        current_component_ = f.component;
        current_property_ = f.property;
        line_ = f.line;
        if (!target) throw Error("Invalid property value: no component named " + f.target);
        f.apply(target);
    }
    root_->SetLoading(false);
    root_->Loaded();
    for (TComponent *c : created_) {
        c->SetLoading(false);
        c->Loaded();
    }
}

void ReadComponentRes(TComponent *Root, std::string_view Text) {
    TReader reader(Root, Text);
    reader.ReadRoot();
}
