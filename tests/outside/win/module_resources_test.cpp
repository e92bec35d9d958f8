// Module resources: lookups by id and by name/type, the module chain, handle validation, and
// string tables read by CString::LoadString.
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include <win/afx.h>
#include <win/module_resources.h>

namespace {

const wchar_t* kImageType = L"IMATGE_BINARIA";

std::string bytesOf(HMODULE module, HRSRC res)
{
    HGLOBAL loaded = LoadResource(module, res);
    const void* p = LockResource(loaded);
    if (!p)
        return "<none>";
    return std::string(static_cast<const char*>(p), SizeofResource(module, res));
}

// An application module and a library module registered in that order; both destroyed after.
class ModuleChain : public ::testing::Test {
protected:
    void SetUp() override
    {
        app_ = WinCreateModule(L"app");
        lib_ = WinCreateModule(L"lib");
        ASSERT_TRUE(app_ && lib_);
        ASSERT_TRUE(WinRegisterModule(app_));
        ASSERT_TRUE(WinRegisterModule(lib_));
        ASSERT_TRUE(WinAddResource(app_, kImageType, MAKEINTRESOURCEW(7), "app-7", 5));
        ASSERT_TRUE(WinAddResource(lib_, kImageType, MAKEINTRESOURCEW(7), "lib-7", 5));
        ASSERT_TRUE(WinAddResource(lib_, kImageType, L"Logo", "logo", 4));
        ASSERT_TRUE(WinAddResource(lib_, RT_BITMAP, MAKEINTRESOURCEW(300), "bmp", 3));
    }
    void TearDown() override
    {
        AfxSetResourceHandle(nullptr);
        WinDestroyModule(app_);
        WinDestroyModule(lib_);
    }
    HINSTANCE app_ = nullptr;
    HINSTANCE lib_ = nullptr;
};

TEST_F(ModuleChain, FindsByIdAndByNameInTheGivenModule)
{
    HRSRC byId = FindResourceW(lib_, MAKEINTRESOURCEW(7), kImageType);
    EXPECT_EQ(bytesOf(lib_, byId), "lib-7");
    // Names and named types compare without case; "#7" is the id 7.
    HRSRC byName = FindResourceW(lib_, L"LOGO", L"imatge_binaria");
    EXPECT_EQ(bytesOf(lib_, byName), "logo");
    EXPECT_EQ(FindResourceW(lib_, L"#7", kImageType), byId);
    EXPECT_EQ(FindResourceW(lib_, L"#300", L"#2"),
              FindResourceW(lib_, MAKEINTRESOURCEW(300), RT_BITMAP));
    // The same id under another type is another resource.
    EXPECT_EQ(FindResourceW(lib_, MAKEINTRESOURCEW(7), RT_BITMAP), nullptr);
    EXPECT_EQ(FindResourceW(lib_, L"Missing", kImageType), nullptr);
    EXPECT_EQ(FindResourceW(lib_, MAKEINTRESOURCEW(0), kImageType), nullptr);
    EXPECT_EQ(FindResourceW(lib_, nullptr, kImageType), nullptr);
    EXPECT_EQ(FindResourceW(lib_, L"Logo", nullptr), nullptr);
}

TEST_F(ModuleChain, NullModuleIsTheApplication)
{
    EXPECT_EQ(AfxGetInstanceHandle(), app_);
    HRSRC res = FindResourceW(nullptr, MAKEINTRESOURCEW(7), kImageType);
    EXPECT_EQ(bytesOf(nullptr, res), "app-7");
    EXPECT_EQ(FindResourceW(nullptr, L"Logo", kImageType), nullptr);
}

TEST_F(ModuleChain, AfxFindResourceHandleSearchesTheChainInOrder)
{
    EXPECT_EQ(AfxGetResourceHandle(), app_);
    EXPECT_EQ(AfxFindResourceHandle(MAKEINTRESOURCEW(7), kImageType), app_);
    EXPECT_EQ(AfxFindResourceHandle(L"logo", kImageType), lib_);
    EXPECT_EQ(AfxFindResourceHandle(L"nothing", kImageType), nullptr);

    // The resource module is searched first.
    AfxSetResourceHandle(lib_);
    EXPECT_EQ(AfxGetResourceHandle(), lib_);
    EXPECT_EQ(AfxFindResourceHandle(MAKEINTRESOURCEW(7), kImageType), lib_);

    // A module taken out of the chain is no longer searched (nor the resource module).
    EXPECT_TRUE(WinUnregisterModule(lib_));
    EXPECT_FALSE(WinUnregisterModule(lib_));
    EXPECT_EQ(AfxGetResourceHandle(), app_);
    EXPECT_EQ(AfxFindResourceHandle(L"logo", kImageType), nullptr);
    // Registering at the front makes it the application.
    EXPECT_TRUE(WinRegisterModule(lib_, TRUE));
    EXPECT_FALSE(WinRegisterModule(lib_));
    EXPECT_EQ(AfxGetInstanceHandle(), lib_);
    EXPECT_EQ(AfxFindResourceHandle(MAKEINTRESOURCEW(7), kImageType), lib_);
}

TEST_F(ModuleChain, BadHandlesFailCleanly)
{
    int local = 0;
    auto bogus = reinterpret_cast<HINSTANCE>(&local);
    HRSRC appRes = FindResourceW(app_, MAKEINTRESOURCEW(7), kImageType);
    ASSERT_NE(appRes, nullptr);
    EXPECT_EQ(FindResourceW(bogus, MAKEINTRESOURCEW(7), kImageType), nullptr);
    // A resource handle of another module is refused.
    EXPECT_EQ(LoadResource(lib_, appRes), nullptr);
    EXPECT_EQ(SizeofResource(lib_, appRes), 0u);
    EXPECT_EQ(LoadResource(app_, reinterpret_cast<HRSRC>(&local)), nullptr);
    EXPECT_EQ(SizeofResource(app_, nullptr), 0u);
    EXPECT_EQ(LockResource(&local), nullptr);
    EXPECT_EQ(LockResource(nullptr), nullptr);
    EXPECT_FALSE(WinAddResource(bogus, kImageType, L"x", "x", 1));
    EXPECT_FALSE(WinAddResource(app_, kImageType, L"x", nullptr, 1));
    EXPECT_FALSE(WinRegisterModule(bogus));
    EXPECT_EQ(WinGetModuleName(bogus), nullptr);
    EXPECT_STREQ(WinGetModuleName(lib_), L"lib");
    EXPECT_EQ(WinFindModule(L"lib"), lib_);

    HINSTANCE temp = WinCreateModule(L"temp");
    ASSERT_TRUE(WinAddResource(temp, RT_RCDATA, MAKEINTRESOURCEW(1), "t", 1));
    HRSRC tempRes = FindResourceW(temp, MAKEINTRESOURCEW(1), RT_RCDATA);
    HGLOBAL tempData = LoadResource(temp, tempRes);
    ASSERT_NE(LockResource(tempData), nullptr);
    EXPECT_TRUE(WinDestroyModule(temp));
    EXPECT_FALSE(WinDestroyModule(temp));
    EXPECT_EQ(FindResourceW(temp, MAKEINTRESOURCEW(1), RT_RCDATA), nullptr);
    EXPECT_EQ(LoadResource(temp, tempRes), nullptr);
    EXPECT_EQ(LockResource(tempData), nullptr);
}

TEST_F(ModuleChain, ZeroSizedAndReplacedResources)
{
    ASSERT_TRUE(WinAddResource(app_, RT_RCDATA, L"empty", nullptr, 0));
    HRSRC empty = FindResourceW(app_, L"empty", RT_RCDATA);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(SizeofResource(app_, empty), 0u);
    EXPECT_NE(LockResource(LoadResource(app_, empty)), nullptr);

    // Bytes locked before a replacement stay readable (another thread may be decoding them);
    // the old handle is no longer one of the module's resources.
    HRSRC before = FindResourceW(app_, MAKEINTRESOURCEW(7), kImageType);
    ASSERT_NE(before, nullptr);
    const auto* old = static_cast<const char*>(LockResource(LoadResource(app_, before)));
    const std::string oldText(old, SizeofResource(app_, before));
    ASSERT_TRUE(WinAddResource(app_, kImageType, MAKEINTRESOURCEW(7), "new", 3));
    EXPECT_EQ(bytesOf(app_, FindResourceW(app_, MAKEINTRESOURCEW(7), kImageType)), "new");
    EXPECT_EQ(std::string(old, oldText.size()), oldText);
    EXPECT_EQ(LoadResource(app_, before), nullptr);

    // The same bytes again keep the resource as it is.
    HRSRC now = FindResourceW(app_, MAKEINTRESOURCEW(7), kImageType);
    ASSERT_TRUE(WinAddResource(app_, kImageType, MAKEINTRESOURCEW(7), "new", 3));
    EXPECT_EQ(FindResourceW(app_, MAKEINTRESOURCEW(7), kImageType), now);
}

// A Windows string-table block: 16 counted UTF-16LE strings.
std::string stringBlock(const std::vector<std::u16string>& strings)
{
    std::string out;
    for (int i = 0; i < 16; ++i) {
        std::u16string s = i < int(strings.size()) ? strings[std::size_t(i)] : u"";
        out.push_back(char(s.size() & 0xFF));
        out.push_back(char(s.size() >> 8));
        for (char16_t c : s) {
            out.push_back(char(c & 0xFF));
            out.push_back(char(c >> 8));
        }
    }
    return out;
}

TEST_F(ModuleChain, LoadStringReadsStringTablesOfTheChain)
{
    // Ids 22032 to 22047 live in block 22032 / 16 + 1 = 1378.
    std::vector<std::u16string> strings(16);
    strings[14] = u"Multicouche";
    strings[15] = u"\u00C9chelle de gris \U0001F600";
    const std::string block = stringBlock(strings);
    ASSERT_TRUE(
        WinAddResource(lib_, RT_STRING, MAKEINTRESOURCEW(1378), block.data(), block.size()));

    CString text(L"unchanged");
    EXPECT_TRUE(text.LoadString(22047));
    EXPECT_EQ(text, CString(L"\u00C9chelle de gris \U0001F600"));
    EXPECT_TRUE(text.LoadString(22046));
    EXPECT_EQ(text, L"Multicouche");
    EXPECT_FALSE(text.LoadString(22045)); // empty entry: absent
    EXPECT_FALSE(text.LoadString(1));     // no block
    EXPECT_EQ(text, L"Multicouche");

    // A truncated block is refused, not over-read.
    const std::string cut = block.substr(0, block.size() - 4);
    ASSERT_TRUE(WinAddResource(lib_, RT_STRING, MAKEINTRESOURCEW(1378), cut.data(), cut.size()));
    EXPECT_FALSE(text.LoadString(22047));

    // A host loader replaces the tables.
    AfxSetStringLoader([](UINT id, std::wstring& out) {
        out = L"#" + std::to_wstring(id);
        return id == 5;
    });
    EXPECT_TRUE(text.LoadString(5));
    EXPECT_EQ(text, L"#5");
    EXPECT_FALSE(text.LoadString(22046));
    AfxSetStringLoader(nullptr);
    EXPECT_TRUE(text.LoadString(22046));
}

} // namespace
