// Build tool: turns platform-errors.csv and platform-locales.csv into C++ table rows.
//
//   csv_tables errors  <platform-errors.csv>  <out.inc>   rows {code, "text", system}
//   csv_tables locales <platform-locales.csv> <out.inc>   rows {lcid, "name"}
//
// The CSV follows RFC 4180 (quoted fields may hold commas, doubled quotes and line breaks).
// In an error text, the two characters \r\n stand for a line break. `system` is true for texts
// of the system message table, which Windows ends with CR LF (the note column says so).
// Any malformed row stops the build with a message naming the line.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Record {
    int line;
    std::vector<std::string> fields;
};

[[noreturn]] void die(const std::string &file, int line, const std::string &what) {
    std::cerr << file << ":" << line << ": " << what << "\n";
    std::exit(1);
}

std::vector<Record> parse_csv(const std::string &file, const std::string &text) {
    std::vector<Record> out;
    Record rec{1, {}};
    std::string field;
    int line = 1;
    bool quoted = false, field_started = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"') {
                if (i + 1 < text.size() && text[i + 1] == '"') {
                    field.push_back('"');
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                if (c == '\n') ++line;
                field.push_back(c);
            }
            continue;
        }
        if (c == '"') {
            if (field_started) die(file, line, "quote inside an unquoted field");
            quoted = field_started = true;
        } else if (c == ',') {
            rec.fields.push_back(field);
            field.clear();
            field_started = false;
        } else if (c == '\n' || c == '\r') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            rec.fields.push_back(field);
            field.clear();
            field_started = false;
            if (!(rec.fields.size() == 1 && rec.fields[0].empty())) out.push_back(rec);
            rec = Record{++line, {}};
        } else {
            field.push_back(c);
            field_started = true;
        }
    }
    if (quoted) die(file, line, "unterminated quoted field");
    if (field_started || !rec.fields.empty()) {
        rec.fields.push_back(field);
        out.push_back(rec);
    }
    return out;
}

// A C++ string literal holding exactly the bytes of s.
std::string literal(const std::string &s) {
    std::string r = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            r += '\\';
            r += char(c);
        } else if (c == '\r') {
            r += "\\r";
        } else if (c == '\n') {
            r += "\\n";
        } else if (c < 0x20 || c >= 0x7F || c == '?') {  // '?' too: no trigraphs, no surprises
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\%03o", c);
            r += buf;
        } else {
            r += char(c);
        }
    }
    return r + "\"";
}

unsigned long parse_hex(const std::string &file, int line, const std::string &s, size_t digits) {
    if (s.size() != digits + 2 || s[0] != '0' || s[1] != 'x') die(file, line, "bad code '" + s + "'");
    for (size_t i = 2; i < s.size(); ++i)
        if (!std::isxdigit(static_cast<unsigned char>(s[i]))) die(file, line, "bad code '" + s + "'");
    return std::strtoul(s.c_str() + 2, nullptr, 16);
}

std::string replace_all(std::string s, const std::string &from, const std::string &to) {
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
    return s;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 4) {
        std::cerr << "usage: csv_tables errors|locales <in.csv> <out.inc>\n";
        return 2;
    }
    const std::string kind = argv[1], in = argv[2], outpath = argv[3];
    std::ifstream f(in, std::ios::binary);
    if (!f) die(in, 0, "cannot read");
    std::stringstream ss;
    ss << f.rdbuf();
    std::vector<Record> rows = parse_csv(in, ss.str());
    if (rows.empty()) die(in, 1, "no header");
    rows.erase(rows.begin());  // header

    std::ostringstream out;
    out << "// Generated from " << in.substr(in.find_last_of('/') + 1) << " by csv_tables; do not edit.\n";
    std::set<unsigned long> seen;
    if (kind == "errors") {
        for (const Record &r : rows) {
            if (r.fields.size() != 4) die(in, r.line, "expected 4 fields, got " + std::to_string(r.fields.size()));
            const unsigned long code = parse_hex(in, r.line, r.fields[0], 8);
            if (!seen.insert(code).second) die(in, r.line, "duplicate code " + r.fields[0]);
            if (r.fields[2].empty()) die(in, r.line, "empty message");
            std::string text = replace_all(r.fields[2], "\\r\\n", "\r\n");
            const bool system = r.fields[3].find("Windows appends CR LF") != std::string::npos;
            out << "{0x" << r.fields[0].substr(2) << "u, " << literal(text) << ", " << (system ? "true" : "false")
                << "},  // " << r.fields[1] << "\n";
        }
    } else if (kind == "locales") {
        for (const Record &r : rows) {
            if (r.fields.size() != 2) die(in, r.line, "expected 2 fields, got " + std::to_string(r.fields.size()));
            const unsigned long lcid = parse_hex(in, r.line, r.fields[0], 4);
            if (!seen.insert(lcid).second) die(in, r.line, "duplicate locale " + r.fields[0]);
            if (r.fields[1].empty()) die(in, r.line, "empty name");
            out << "{0x" << r.fields[0].substr(2) << "u, " << literal(r.fields[1]) << "},\n";
        }
    } else {
        std::cerr << "unknown table kind " << kind << "\n";
        return 2;
    }
    std::ofstream o(outpath, std::ios::binary | std::ios::trunc);
    o << out.str();
    if (!o) die(outpath, 0, "cannot write");
    return 0;
}
