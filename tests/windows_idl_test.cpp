// The type library source of the Windows server must describe exactly the member
// table and identity of the dispatch layer.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <sstream>

#include "component/dispatch.h"

namespace vantoro {
namespace {

std::string Idl() {
  std::ifstream in(VANTORO_IDL_PATH);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Bare(std::string_view guid) { return std::string(guid.substr(1, guid.size() - 2)); }

TEST(WindowsTypeLibrary, IdentityMatches) {
  std::string idl = Idl();
  ASSERT_FALSE(idl.empty());
  EXPECT_NE(idl.find("uuid(" + Bare(identity::kTypeLibraryId) + "),\n  version(1.0)"), std::string::npos);
  EXPECT_NE(idl.find("library " + std::string(identity::kTypeLibraryName)), std::string::npos);
  EXPECT_NE(idl.find("uuid(" + Bare(identity::kInterfaceId) + ")"), std::string::npos);
  EXPECT_NE(idl.find("interface " + std::string(identity::kInterfaceName) + " : IDispatch"),
            std::string::npos);
  EXPECT_NE(idl.find("uuid(" + Bare(identity::kClassId) + ")\n  ]\n  coclass " +
                     std::string(identity::kClassName)),
            std::string::npos);
}

TEST(WindowsTypeLibrary, MembersMatchTheTable) {
  std::string idl = Idl();
  std::regex member(R"(\[id\((0x[0-9A-Fa-f]+)\)(, (propget|propput))?\] HRESULT (\w+)\(([^)]*)\))");
  std::vector<MemberInfo> found;
  std::vector<std::string> params;
  for (auto it = std::sregex_iterator(idl.begin(), idl.end(), member); it != std::sregex_iterator(); ++it) {
    const std::smatch& m = *it;
    InvokeKind kind = m[3] == "propget" ? kInvokePropertyGet
                      : m[3] == "propput" ? kInvokePropertyPut : kInvokeMethod;
    found.push_back({"", static_cast<DispId>(std::stoul(m[1], nullptr, 16)), kind, 0, "", false});
    params.push_back(m[4].str() + "(" + m[5].str() + ")");
  }
  auto members = Members();
  ASSERT_EQ(found.size(), members.size());
  for (std::size_t i = 0; i < members.size(); ++i) {
    SCOPED_TRACE(params[i]);
    EXPECT_EQ(found[i].dispid, members[i].dispid);
    EXPECT_EQ(found[i].kind, members[i].kind);
    EXPECT_TRUE(params[i].starts_with(std::string(members[i].name) + "("));
    if (!members[i].param_name.empty()) {
      EXPECT_NE(params[i].find(std::string(members[i].param_name)), std::string::npos);
    }
    // In-parameters, plus the retval of members that give a result; every
    // parameter carries one attribute list.
    auto declared = static_cast<std::size_t>(std::count(params[i].begin(), params[i].end(), ']'));
    EXPECT_EQ(declared, static_cast<std::size_t>(members[i].param_count) + (members[i].returns_value ? 1 : 0));
  }
}

}  // namespace
}  // namespace vantoro
