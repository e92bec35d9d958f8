// json_check.h - a strict reader of the JSON that dibtool prints: objects, arrays, strings with
// every escape, numbers, true, false and null. Values come back as their text (strings
// unescaped), keyed by a path such as "format" or "[3].name".
#pragma once

#include <cstdlib>
#include <map>
#include <string>

namespace dibtest {

class JsonReader {
public:
    // False when text is not one well-formed JSON value (trailing blanks allowed).
    bool Parse(const std::string& text)
    {
        s_ = text;
        i_ = 0;
        values.clear();
        if (!Value(""))
            return false;
        Blanks();
        return i_ == s_.size();
    }
    std::map<std::string, std::string> values;

private:
    void Blanks()
    {
        while (i_ < s_.size() &&
               (s_[i_] == ' ' || s_[i_] == '\n' || s_[i_] == '\t' || s_[i_] == '\r'))
            ++i_;
    }
    bool Literal(const char* word)
    {
        const std::string w = word;
        if (s_.compare(i_, w.size(), w) != 0)
            return false;
        i_ += w.size();
        return true;
    }
    bool String(std::string& out)
    {
        if (i_ >= s_.size() || s_[i_] != '"')
            return false;
        for (++i_; i_ < s_.size(); ++i_) {
            const unsigned char c = static_cast<unsigned char>(s_[i_]);
            if (c == '"') {
                ++i_;
                return true;
            }
            if (c < 0x20)
                return false;
            if (c != '\\') {
                out.push_back(char(c));
                continue;
            }
            if (++i_ >= s_.size())
                return false;
            switch (s_[i_]) {
            case '"':
            case '\\':
            case '/':
                out.push_back(s_[i_]);
                break;
            case 'n':
                out.push_back('\n');
                break;
            case 'r':
                out.push_back('\r');
                break;
            case 't':
                out.push_back('\t');
                break;
            case 'b':
                out.push_back('\b');
                break;
            case 'f':
                out.push_back('\f');
                break;
            case 'u': {
                if (i_ + 4 >= s_.size())
                    return false;
                const std::string hex = s_.substr(i_ + 1, 4);
                char* end = nullptr;
                const long v = std::strtol(hex.c_str(), &end, 16);
                if (end != hex.c_str() + 4 || v >= 0x80) // dibtool escapes control bytes only
                    return false;
                out.push_back(char(v));
                i_ += 4;
                break;
            }
            default:
                return false;
            }
        }
        return false;
    }
    bool Value(const std::string& path)
    {
        Blanks();
        if (i_ >= s_.size())
            return false;
        const char c = s_[i_];
        if (c == '{' || c == '[') {
            const bool object = c == '{';
            ++i_;
            Blanks();
            if (i_ < s_.size() && s_[i_] == (object ? '}' : ']')) {
                ++i_;
                return true;
            }
            for (int n = 0;; ++n) {
                std::string key = "[" + std::to_string(n) + "]";
                if (object) {
                    key.clear();
                    if (!String(key))
                        return false;
                    Blanks();
                    if (i_ >= s_.size() || s_[i_++] != ':')
                        return false;
                }
                const std::string sub = path.empty() ? key : object ? path + "." + key : path + key;
                if (!Value(sub))
                    return false;
                Blanks();
                if (i_ < s_.size() && s_[i_] == ',') {
                    ++i_;
                    Blanks();
                    continue;
                }
                if (i_ < s_.size() && s_[i_] == (object ? '}' : ']')) {
                    ++i_;
                    return true;
                }
                return false;
            }
        }
        std::string text;
        const std::size_t at = i_;
        if (c == '"') {
            if (!String(text))
                return false;
        } else if (Literal("true") || Literal("false") || Literal("null")) {
            text = s_.substr(at, i_ - at);
        } else {
            const char* begin = s_.c_str() + i_;
            char* end = nullptr;
            std::strtod(begin, &end);
            if (end == begin || !(c == '-' || (c >= '0' && c <= '9')))
                return false;
            text.assign(begin, std::size_t(end - begin));
            i_ += std::size_t(end - begin);
        }
        values[path] = text;
        return true;
    }

    std::string s_;
    std::size_t i_ = 0;
};

} // namespace dibtest
