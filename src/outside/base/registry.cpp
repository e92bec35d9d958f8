// registry.cpp - TCarpetaRegistry over one text file per user.
//
// Contents: store location; text escaping; parsing and writing the store; locked commit;
// TCarpetaRegistry.
#include "base/registry.h"

#include "base/registry_case_fold.h"
#include "base/registry_internal.h"
#include "win/files.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <pwd.h>
#include <sstream>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace {

constexpr std::size_t kMaxStore = 16u << 20;
std::atomic<base_internal::RegistryCommitHook> g_hook{nullptr};

std::mutex g_appMutex;
std::wstring g_appName; // empty: the default

// ---- location ------------------------------------------------------------------------------

std::string ConfigHome()
{
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') // relative values are ignored, as the XDG rules say
        return xdg;
    const char* home = std::getenv("HOME");
    if (home && *home)
        return std::string(home) + "/.config";
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
        return std::string(pw->pw_dir) + "/.config";
    return {};
}

std::string StoreFolder()
{
    const std::string home = ConfigHome();
    return home.empty() ? std::string() : home + "/libdib";
}

bool MakeFolders(const std::string& path)
{
    for (std::size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos == path.size() || path[pos] == '/') {
            if (::mkdir(path.substr(0, pos).c_str(), 0700) != 0 && errno != EEXIST)
                return false;
        }
    }
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// ---- names ---------------------------------------------------------------------------------

// True when every code point of text is a Unicode scalar value. A lone surrogate or a value
// above U+10FFFF has no UTF-8 form: stored, it would become U+FFFD and share the entry of
// another name.
bool ScalarValues(std::wstring_view text)
{
    return std::all_of(text.begin(), text.end(), [](wchar_t c) {
        const auto cp = static_cast<std::uint32_t>(c);
        return cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
    });
}

// Case folding by a fixed table (Unicode simple case folding), never by the process locale:
// a name must find its value whatever locale the writing and the reading programs run in.
wchar_t FoldChar(wchar_t c)
{
    const auto cp = static_cast<std::uint32_t>(c);
    const auto* const end = std::end(base_fold::kRuns);
    const auto* run =
        std::lower_bound(std::begin(base_fold::kRuns), end, cp,
                         [](const base_fold::Run& r, std::uint32_t v) { return r.last < v; });
    if (run == end || cp < run->first || (cp - run->first) % run->step != 0)
        return c;
    return static_cast<wchar_t>(static_cast<std::int32_t>(cp) + run->delta);
}

std::wstring NormalisePath(const wchar_t* path)
{
    std::wstring out, part;
    for (const wchar_t* p = path;; ++p) {
        if (*p == L'\\' || *p == 0) {
            if (!part.empty()) {
                if (!out.empty())
                    out += L'\\';
                out += part;
                part.clear();
            }
            if (*p == 0)
                break;
        } else {
            part += *p;
        }
    }
    return out;
}

bool SameName(const std::wstring& a, const std::wstring& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldChar(a[i]) != FoldChar(b[i]))
            return false;
    }
    return true;
}

std::string Escape(const std::wstring& w)
{
    const std::string s = WideToUtf8(w);
    std::string out;
    out.reserve(s.size());
    for (unsigned char c : s) {
        // ';' and '#' would start a comment line when they lead a value name.
        if (c < 0x20 || c == 0x7F || c == '%' || c == '=' || c == '[' || c == ']' || c == ';' ||
            c == '#') {
            static constexpr char kHex[] = "0123456789ABCDEF";
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::wstring Unescape(const std::string& s)
{
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && HexDigit(s[i + 1]) >= 0 && HexDigit(s[i + 2]) >= 0) {
            out += static_cast<char>(HexDigit(s[i + 1]) * 16 + HexDigit(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return Utf8ToWide(out);
}

// ---- the store -----------------------------------------------------------------------------

struct Value {
    std::wstring name;
    bool text = false;
    std::uint32_t dword = 0;
    std::wstring sz;
};

// The form under which names compare (SameName).
std::wstring Folded(const std::wstring& name)
{
    std::wstring f(name);
    for (wchar_t& c : f)
        c = FoldChar(c);
    return f;
}

// Values in file order with an index by folded name, so that a store of many values parses in
// linear time.
struct Values {
    std::vector<Value> list;
    std::unordered_map<std::wstring, std::size_t> index;

    const Value* Find(const std::wstring& name) const
    {
        auto it = index.find(Folded(name));
        return it == index.end() ? nullptr : &list[it->second];
    }
    void Set(const Value& v)
    {
        auto [it, fresh] = index.try_emplace(Folded(v.name), list.size());
        if (fresh)
            list.push_back(v);
        else
            list[it->second] = v;
    }
};

struct Key {
    std::wstring path;
    Values values;
};

struct Store {
    std::vector<Key> keys;
    std::unordered_map<std::wstring, std::size_t> index; // folded path -> keys[]

    const Key* Find(const std::wstring& path) const
    {
        auto it = index.find(Folded(path));
        return it == index.end() ? nullptr : &keys[it->second];
    }
    Key& Obtain(const std::wstring& path)
    {
        auto [it, fresh] = index.try_emplace(Folded(path), keys.size());
        if (fresh)
            keys.push_back({path, {}});
        return keys[it->second];
    }
};

bool ParseValue(const std::string& line, Value& v)
{
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0)
        return false;
    v.name = Unescape(line.substr(0, eq));
    const std::string data = line.substr(eq + 1);
    if (data.rfind("dword:", 0) == 0) {
        const std::string digits = data.substr(6);
        if (digits.empty() || digits.size() > 10 ||
            digits.find_first_not_of("0123456789") != std::string::npos)
            return false;
        const unsigned long long n = std::strtoull(digits.c_str(), nullptr, 10);
        if (n > 0xFFFFFFFFull)
            return false;
        v.text = false;
        v.dword = static_cast<std::uint32_t>(n);
        return true;
    }
    if (data.rfind("sz:", 0) == 0) {
        v.text = true;
        v.sz = Unescape(data.substr(3));
        return true;
    }
    return false;
}

// Parses the store text. Unknown or malformed lines are skipped: a damaged line costs that
// value only. A leading byte-order mark (an editor may add one) is skipped. A section whose
// path is empty ("[]") is the root key.
Store Parse(const std::string& text)
{
    Store store;
    Key* current = nullptr;
    std::istringstream in(text);
    std::string line;
    bool first = true;
    while (std::getline(in, line)) {
        if (first && line.rfind("\xEF\xBB\xBF", 0) == 0)
            line.erase(0, 3);
        first = false;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line[0] == '[') {
            const std::size_t end = line.rfind(']');
            current = nullptr;
            if (end == std::string::npos || end < 1)
                continue;
            const std::wstring raw = Unescape(line.substr(1, end - 1));
            current = &store.Obtain(NormalisePath(raw.c_str()));
            continue;
        }
        Value v;
        if (current && ParseValue(line, v))
            current->values.Set(v);
    }
    return store;
}

std::string Serialise(const Store& store)
{
    std::string out = "; libdib settings (HKEY_CURRENT_USER). Written by the library; "
                      "edit only while no program using it runs.\n";
    for (const Key& k : store.keys) {
        out += "\n[" + Escape(k.path) + "]\n";
        for (const Value& v : k.values.list) {
            out += Escape(v.name);
            out += v.text ? "=sz:" + Escape(v.sz) : "=dword:" + std::to_string(v.dword);
            out += '\n';
        }
    }
    return out;
}

// Reads the whole store. Missing file: an empty store (true). Unreadable or too large: false.
bool ReadStore(const std::string& file, Store& store)
{
    store = {};
    // O_NONBLOCK: a FIFO or device planted at the store's path must not hang the caller.
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return errno == ENOENT;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    std::string text;
    bool ok = true;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0)
            break;
        if (text.size() + static_cast<std::size_t>(n) > kMaxStore) {
            ok = false;
            break;
        }
        text.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (!ok)
        return false;
    try {
        store = Parse(text);
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

bool WriteAll(int fd, const std::string& data)
{
    const char* p = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

class FileLock {
public:
    explicit FileLock(const std::string& path)
        : m_fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600))
    {
        if (m_fd < 0)
            return;
        while (::flock(m_fd, LOCK_EX) != 0) {
            if (errno != EINTR) {
                ::close(m_fd);
                m_fd = -1;
                return;
            }
        }
    }
    ~FileLock()
    {
        if (m_fd >= 0)
            ::close(m_fd); // releases the lock
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool Held() const { return m_fd >= 0; }

private:
    int m_fd;
};

// Applies one folder's changes under the lock: re-read, merge, write aside, replace.
bool Commit(const std::wstring& path, const std::vector<Value>& changes)
{
    const std::string folder = StoreFolder();
    if (folder.empty() || !MakeFolders(folder))
        return false;
    const std::string file = folder + "/registry.txt";
    FileLock lock(file + ".lock");
    if (!lock.Held())
        return false;
    Store store;
    if (!ReadStore(file, store))
        return false;
    Key& key = store.Obtain(path);
    for (const Value& v : changes)
        key.values.Set(v);
    const std::string text = Serialise(store);
    // A store the reader would refuse must never replace one it accepts.
    if (text.size() > kMaxStore)
        return false;

    // One fixed temporary name is enough: only the lock holder writes it, and a file left by
    // a writer that died is simply overwritten.
    const std::string tmp = file + ".tmp";
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    bool ok = WriteAll(fd, text) && ::fsync(fd) == 0;
    if (::close(fd) != 0)
        ok = false;
    if (!ok) {
        ::unlink(tmp.c_str());
        return false;
    }
    if (base_internal::RegistryCommitHook hook = g_hook.load())
        hook();
    if (::rename(tmp.c_str(), file.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return false;
    }
    // Make the rename itself durable.
    const int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

std::wstring DefaultAppName()
{
    std::ifstream comm("/proc/self/comm");
    std::string name;
    if (comm && std::getline(comm, name)) {
        while (!name.empty() && (name.back() == '\n' || name.back() == ' '))
            name.pop_back();
        if (!name.empty())
            return Utf8ToWide(name);
    }
    return L"libdib";
}

} // namespace

namespace base_internal {
void SetRegistryCommitHook(RegistryCommitHook hook)
{
    g_hook.store(hook);
}
} // namespace base_internal

// ---- TCarpetaRegistry ------------------------------------------------------------------------

TCarpetaRegistry::TCarpetaRegistry(HKEY root, const wchar_t* path)
{
    if (root != HKEY_CURRENT_USER || !path || !ScalarValues(path))
        return;
    try {
        m_path = NormalisePath(path);
        m_valid = true;
    } catch (const std::exception&) {
    }
}

TCarpetaRegistry::TCarpetaRegistry(const TCarpetaRegistry& parent, const wchar_t* name)
{
    if (!parent.m_valid || (name && !ScalarValues(name)))
        return;
    try {
        m_path = parent.m_path;
        if (name && *name) {
            const std::wstring sub = NormalisePath(name);
            if (!sub.empty())
                m_path = m_path.empty() ? sub : m_path + L"\\" + sub;
        }
        m_valid = true;
    } catch (const std::exception&) {
    }
}

TCarpetaRegistry::~TCarpetaRegistry()
{
    Tancar();
}

int TCarpetaRegistry::Obrir(int mode)
{
    if (!m_valid || m_mode >= 0 || (mode != 0 && mode != 1))
        return 0;
    try {
        const std::string folder = StoreFolder();
        if (folder.empty())
            return 0;
        Store store;
        const bool read = ReadStore(folder + "/registry.txt", store);
        const Key* key = read ? store.Find(m_path) : nullptr;
        m_existia = key != nullptr;
        m_valors.clear();
        m_canvis.clear();
        if (key) {
            for (const Value& v : key->values.list)
                m_valors.push_back({v.name, v.text, v.dword, v.sz});
        }
        if (!read)
            return 0; // unreadable or oversized: neither read nor overwritten
        if (mode == 0) {
            if (!key)
                return 0;
        } else {
            // Check now that a commit can take the lock, so the caller learns of an unwritable
            // store at open time, as it would on Windows.
            if (!MakeFolders(folder))
                return 0;
            const int fd =
                ::open((folder + "/registry.txt.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            if (fd < 0)
                return 0;
            ::close(fd);
        }
        m_mode = mode;
        return 1;
    } catch (const std::exception&) {
        m_valors.clear();
        m_canvis.clear();
        return 0;
    }
}

int TCarpetaRegistry::Tancar()
{
    if (m_mode < 0)
        return 1;
    bool ok = true;
    if (m_mode == 1 && (!m_canvis.empty() || !m_existia)) {
        try {
            std::vector<Value> changes;
            for (const Canvi& c : m_canvis)
                changes.push_back({c.name, c.text, c.dword, c.sz});
            ok = Commit(m_path, changes);
        } catch (const std::exception&) {
            ok = false;
        }
    }
    m_mode = -1;
    m_valors.clear();
    m_canvis.clear();
    return ok ? 1 : 0;
}

const TCarpetaRegistry::Canvi* TCarpetaRegistry::Buscar(const wchar_t* name) const
{
    if (m_mode < 0 || !name)
        return nullptr;
    const std::wstring n(name);
    for (const Canvi& c : m_valors) {
        if (SameName(c.name, n))
            return &c;
    }
    return nullptr;
}

int TCarpetaRegistry::TornaValor(const wchar_t* name, int& value, int def) const
{
    const Canvi* c = Buscar(name);
    if (!c || c->text) {
        value = def;
        return 0;
    }
    value = static_cast<int>(c->dword);
    return 1;
}

int TCarpetaRegistry::TornaValor(const wchar_t* name, unsigned long& value, unsigned long def) const
{
    const Canvi* c = Buscar(name);
    if (!c || c->text) {
        value = def;
        return 0;
    }
    value = c->dword;
    return 1;
}

int TCarpetaRegistry::TornaText(const wchar_t* name, std::wstring& value, const wchar_t* def) const
{
    const Canvi* c = Buscar(name);
    if (!c || !c->text) {
        value = def ? def : L"";
        return 0;
    }
    value = c->sz;
    return 1;
}

int TCarpetaRegistry::Entrar(Canvi c)
{
    if (m_mode != 1 || c.name.empty() || !ScalarValues(c.name) || !ScalarValues(c.sz))
        return 0;
    try {
        m_canvis.push_back(c);
        for (Canvi& old : m_valors) {
            if (SameName(old.name, c.name)) {
                old = std::move(c);
                return 1;
            }
        }
        m_valors.push_back(std::move(c));
    } catch (const std::exception&) {
        return 0;
    }
    return 1;
}

int TCarpetaRegistry::EntraValor(const wchar_t* name, std::uint32_t value)
{
    if (!name)
        return 0;
    try {
        return Entrar({name, false, value, {}});
    } catch (const std::exception&) {
        return 0;
    }
}

int TCarpetaRegistry::EntraText(const wchar_t* name, const wchar_t* value)
{
    if (!name)
        return 0;
    try {
        return Entrar({name, true, 0, value ? value : L""});
    } catch (const std::exception&) {
        return 0;
    }
}

void TCarpetaRegistry::SetNomAplicacio(const wchar_t* name)
{
    std::lock_guard<std::mutex> lock(g_appMutex);
    g_appName = name ? name : L"";
}

std::wstring TCarpetaRegistry::GetNomAplicacio()
{
    {
        std::lock_guard<std::mutex> lock(g_appMutex);
        if (!g_appName.empty())
            return g_appName;
    }
    return DefaultAppName();
}

std::wstring TCarpetaRegistry::GetClauAplicacio()
{
    std::wstring name = GetNomAplicacio();
    for (wchar_t& c : name) {
        if (c == L'\\' || c == L'/')
            c = L'_';
    }
    return L"Software\\" + name;
}

std::string TCarpetaRegistry::GetFitxerMagatzem()
{
    const std::string folder = StoreFolder();
    return folder.empty() ? std::string() : folder + "/registry.txt";
}
