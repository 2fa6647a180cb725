// AMGetErrorTextA/W: texts, line ends, buffer lengths, unknown codes.
#include "platform/directshow.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string text_of(HRESULT hr, DWORD max_len = 256, DWORD *count = nullptr) {
    std::vector<char> buf(max_len + 1, 'x');
    DWORD n = AMGetErrorTextA(hr, buf.data(), max_len);
    if (count) *count = n;
    return std::string(buf.data());
}

TEST(ErrorText, SystemTextsEndInCrLfDirectShowTextsDoNot) {
    DWORD n = 0;
    EXPECT_EQ("Unspecified error\r\n", text_of(E_FAIL, 256, &n));
    EXPECT_EQ(19u, n) << "the count is the characters written, NUL not included";
    EXPECT_EQ("Class not registered\r\n", text_of(REGDB_E_CLASSNOTREG));
    EXPECT_EQ("The system cannot find the file specified.\r\n", text_of(HRESULT(0x80070002)));
    EXPECT_EQ("The operation could not be performed because the filter is not stopped.",
              text_of(HRESULT(0x80040224), 256, &n));
    EXPECT_EQ(71u, n);
    // Texts with commas and quotes, as the table has them.
    EXPECT_EQ("The filename, directory name, or volume label syntax is incorrect.\r\n", text_of(HRESULT(0x8007007B)));
    EXPECT_EQ("Cannot play back the video stream: format 'RPZA' is not supported.", text_of(HRESULT(0x80040259)));
    EXPECT_EQ("The value returned had to be estimated.  It's accuracy can not be guaranteed.",
              text_of(HRESULT(0x00040260)));
    // An embedded line break.
    EXPECT_EQ("The operation depends on the current title number, however the navigator has not yet entered the "
              "VTSM or the title domains,\r\nso the 'current' title index is unknown.",
              text_of(HRESULT(0x80040290), 512));
}

TEST(ErrorText, BufferLengthsAndUnknownCodes) {
    // "Unspecified error\r\n" is 19 characters: it needs 20 with the NUL.
    DWORD n = 99;
    EXPECT_EQ("", text_of(E_FAIL, 19, &n));
    EXPECT_EQ(0u, n);
    EXPECT_EQ("Unspecified error\r\n", text_of(E_FAIL, 20, &n));
    EXPECT_EQ(19u, n);
    // MAX_ERROR_TEXT_LEN (160) is too short for the longest texts.
    EXPECT_EQ("", text_of(HRESULT(0x80040290), 160, &n));
    EXPECT_EQ(0u, n);

    EXPECT_EQ("", text_of(HRESULT(0x80041234), 256, &n)) << "no text: empty and 0";
    EXPECT_EQ(0u, n);
    EXPECT_EQ("", text_of(HRESULT(0x00000002), 256, &n));
    EXPECT_EQ(0u, n);
    EXPECT_EQ(0u, AMGetErrorTextA(E_FAIL, nullptr, 256));
    char one = 'x';
    EXPECT_EQ(0u, AMGetErrorTextA(E_FAIL, &one, 0));
    EXPECT_EQ('x', one) << "a zero-length buffer is not written";
}

TEST(ErrorText, WideVersionCountsUtf16Characters) {
    WCHAR buf[64];
    EXPECT_EQ(19u, AMGetErrorTextW(E_FAIL, buf, 64));
    EXPECT_EQ(tw::to_wide("Unspecified error\r\n"), tw::wstring(buf));
    EXPECT_EQ(0u, AMGetErrorTextW(E_FAIL, buf, 19));
    EXPECT_EQ(0, buf[0]);
}

// Reads the table the texts were made from, independently of the build tool, and checks
// every row: nothing lost or altered by the conversion.
TEST(ErrorText, EveryRowOfTheTableComesBackExactly) {
    std::ifstream f(TW_ERRORS_CSV, std::ios::binary);
    ASSERT_TRUE(f) << TW_ERRORS_CSV;
    std::stringstream ss;
    ss << f.rdbuf();
    const std::string csv = ss.str();
    std::vector<std::vector<std::string>> rows(1);
    std::string field;
    bool quoted = false;
    for (size_t i = 0; i < csv.size(); ++i) {
        char c = csv[i];
        if (quoted) {
            if (c == '"' && i + 1 < csv.size() && csv[i + 1] == '"') field += csv[++i];
            else if (c == '"') quoted = false;
            else field += c;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            rows.back().push_back(field);
            field.clear();
        } else if (c == '\n') {
            rows.back().push_back(field);
            field.clear();
            rows.emplace_back();
        } else if (c != '\r') {
            field += c;
        }
    }
    if (rows.back().empty()) rows.pop_back();
    ASSERT_GT(rows.size(), 200u);
    int checked = 0;
    for (size_t r = 1; r < rows.size(); ++r) {
        ASSERT_EQ(4u, rows[r].size()) << "row " << r;
        const HRESULT hr = HRESULT(std::stoul(rows[r][0], nullptr, 16));
        std::string expected = rows[r][2];
        for (size_t at; (at = expected.find("\\r\\n")) != std::string::npos;) expected.replace(at, 4, "\r\n");
        if (rows[r][3].find("Windows appends CR LF") != std::string::npos) expected += "\r\n";
        DWORD n = 0;
        EXPECT_EQ(expected, text_of(hr, 1024, &n)) << rows[r][1];
        EXPECT_EQ(expected.size(), n) << rows[r][1];
        ++checked;
    }
    EXPECT_EQ(int(rows.size()) - 1, checked);
}

}  // namespace
