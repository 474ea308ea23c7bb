// The dispatch layer: name lookup, invocation, error information.
#include <gtest/gtest.h>

#include <array>

#include "test_support.h"
#include "component/dispatch.h"

namespace vantoro {
namespace {

class Dispatch : public ::testing::Test {
 protected:
  DispId IdOf(std::string_view name) {
    std::array<std::string_view, 1> names{name};
    std::array<DispId, 1> ids{};
    object->GetIDsOfNames(names, ids);
    return ids[0];
  }

  std::unique_ptr<DispatchObject> object = std::make_unique<DispatchObject>();
};

TEST_F(Dispatch, NamesMatchIgnoringCase) {
  EXPECT_EQ(IdOf("CopyRStr"), kDispIdCopyRStr);
  EXPECT_EQ(IdOf("ONSTARTPAGE"), kDispIdOnStartPage);
  EXPECT_EQ(IdOf("onEndPage"), kDispIdOnEndPage);
  EXPECT_EQ(IdOf("load"), kDispIdLoad);
  EXPECT_EQ(IdOf("rNDSTR"), kDispIdRndstr);
  EXPECT_EQ(IdOf("RndContent"), kDispIdRndContent);
}

TEST_F(Dispatch, PrivateOperationsAreUnknownNames) {
  for (std::string_view name : {"RndChars", "RndTag", "RndNote", "RndCase", "RndHideStr",
                                "RndCopyRStr", "VersionText", "AttrNames", ""}) {
    std::array<std::string_view, 2> names{"Rndstr", name};
    std::array<DispId, 2> ids{};
    EXPECT_EQ(object->GetIDsOfNames(names, ids), kDispEUnknownName) << name;
    EXPECT_EQ(ids[0], kDispIdRndstr);
    EXPECT_EQ(ids[1], -1);
  }
}

TEST_F(Dispatch, WrongArgumentCountIsRefusedBeforeTheMethodRuns) {
  ScriptedRandomSource values({});  // any draw would fail
  ScopedRandomSource use(values);
  Variant result = "untouched";
  std::vector<Variant> none;
  std::vector<Variant> two{"a", "b"};
  EXPECT_EQ(object->Invoke(kDispIdRndstr, kInvokeMethod, none, &result, nullptr),
            kDispEBadParamCount);
  EXPECT_EQ(object->Invoke(kDispIdRndContent, kInvokeMethod, two, &result, nullptr),
            kDispEBadParamCount);
  EXPECT_EQ(object->Invoke(kDispIdLoad, kInvokeMethod, two, &result, nullptr),
            kDispEBadParamCount);
  EXPECT_EQ(result, Variant("untouched"));
  EXPECT_EQ(object->Invoke(0x12345, kInvokeMethod, none, &result, nullptr),
            kDispEMemberNotFound);
}

TEST_F(Dispatch, ThrownErrorsBecomeExceptionInformation) {
  ScriptedRandomSource values({});
  ScopedRandomSource use(values);
  std::vector<Variant> args{"<p>x</p>"};
  Variant result = "untouched";
  ExceptionInfo info;
  EXPECT_EQ(object->Invoke(kDispIdRndstr, kInvokeMethod, args, &result, &info), kDispEException);
  EXPECT_EQ(info.scode, MakeHResult(0x800A0005));
  EXPECT_EQ(info.source, "Vantoro.Marquel");
  EXPECT_NE(info.description.find("ran out"), std::string::npos);
  EXPECT_EQ(result, Variant("untouched"));

  std::vector<Variant> object_arg{Variant::nothing()};
  EXPECT_EQ(object->Invoke(kDispIdRndContent, kInvokeMethod, object_arg, &result, &info),
            kDispEException);
  EXPECT_EQ(info.scode, MakeHResult(0x800A000D));
  EXPECT_EQ(info.description, "Type mismatch");

  std::vector<Variant> null_arg{Variant::null()};
  EXPECT_EQ(object->Invoke(kDispIdCopyRStr, kInvokePropertyPut, null_arg, nullptr, &info),
            kDispEException);
  EXPECT_EQ(info.scode, MakeHResult(0x800A005E));
}

TEST_F(Dispatch, PropertyAndMethodsThroughInvoke) {
  std::vector<Variant> value{"Site:All rights reserved"};
  ASSERT_EQ(object->Invoke(kDispIdCopyRStr, kInvokePropertyPut, value, nullptr, nullptr), kSOk);
  Variant result;
  std::vector<Variant> none;
  ASSERT_EQ(object->Invoke(kDispIdCopyRStr, kInvokePropertyGet | kInvokeMethod, none, &result,
                           nullptr),
            kSOk);
  EXPECT_EQ(result, Variant("Site:All rights reserved"));

  std::vector<Variant> context{Variant::nothing()};
  ASSERT_EQ(object->Invoke(kDispIdOnStartPage, kInvokeMethod, context, nullptr, nullptr), kSOk);
  std::vector<Variant> not_an_object{"x"};
  EXPECT_EQ(object->Invoke(kDispIdOnStartPage, kInvokeMethod, not_an_object, nullptr, nullptr),
            kDispETypeMismatch);

  const Variant page = "<P ID=\"x\">a<BR>b</P>";
  std::vector<Variant> args{page};
  ASSERT_EQ(object->Invoke(kDispIdRndContent, kInvokeMethod | kInvokePropertyGet, args, &result,
                           nullptr),
            kSOk);
  EXPECT_NE(ToText(result).find("All rights reserved"), std::string::npos);
  ASSERT_EQ(object->Invoke(kDispIdRndstr, kInvokeMethod, args, &result, nullptr), kSOk);
  EXPECT_NE(ToText(result).find("v2.0正式版"), std::string::npos);
  EXPECT_EQ(args[0], page) << "by-reference arguments keep their value";
  EXPECT_EQ(object->Invoke(kDispIdOnEndPage, kInvokeMethod, none, nullptr, nullptr), kSOk);
}

TEST(MemberTable, MatchesTheInterface) {
  auto members = Members();
  ASSERT_EQ(members.size(), 7u);
  EXPECT_EQ(members[0].name, "CopyRStr");
  EXPECT_EQ(members[0].kind, kInvokePropertyGet);
  EXPECT_EQ(members[1].kind, kInvokePropertyPut);
  EXPECT_EQ(members[2].param_name, "passedscriptingcontext");
  EXPECT_EQ(members[5].dispid, 0x60030003);
  EXPECT_EQ(members[6].param_count, 1);
}

}  // namespace
}  // namespace vantoro
