#include "MessageMap.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class Base : public CCmdTarget {
public:
    void OnShared() { calls += "base-shared "; }
    void OnBaseOnly() { calls += "base-only "; }
    std::string calls;
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(Base, CCmdTarget)
    ON_BN_CLICKED(10, &Base::OnShared)
    ON_BN_CLICKED(11, &Base::OnBaseOnly)
END_MESSAGE_MAP()

class Derived : public Base {
public:
    void OnShared() { calls += "derived-shared "; }
    void OnSelection() { calls += "selection "; }
    void OnSysCommand(UINT id, LPARAM lParam) { calls += "sys" + std::to_string(id) + "/" + std::to_string(lParam) + " "; }
    HCURSOR OnQueryDragIcon() { return 128; }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(Derived, Base)
    ON_BN_CLICKED(10, &Derived::OnShared)
    ON_CBN_SELCHANGE(10, &Derived::OnSelection)
    ON_WM_SYSCOMMAND()
    ON_WM_QUERYDRAGICON()
END_MESSAGE_MAP()

TEST(MessageMap, RoutesToTheMostDerivedEntryThenTheBase)
{
    Derived target;
    EXPECT_TRUE(target.OnCmdMsg(10));
    EXPECT_TRUE(target.OnCmdMsg(11));
    EXPECT_TRUE(target.OnCmdMsg(10, CBN_SELCHANGE));
    EXPECT_FALSE(target.OnCmdMsg(11, CBN_SELCHANGE));
    EXPECT_FALSE(target.OnCmdMsg(12));
    EXPECT_EQ(target.calls, "derived-shared base-only selection ");
}

TEST(MessageMap, PassesParametersAndResultsByTheHandlersSignature)
{
    Derived target;
    EXPECT_TRUE(target.OnWndMsg(WM_SYSCOMMAND, 0, 0x0010, 7));
    INT_PTR result = 0;
    EXPECT_TRUE(target.OnWndMsg(WM_QUERYDRAGICON, 0, 0, 0, &result));
    EXPECT_EQ(result, 128);
    EXPECT_FALSE(target.OnWndMsg(WM_PAINT, 0, 0));
    EXPECT_EQ(target.calls, "sys16/7 ");
    EXPECT_TRUE(target.HandlesCommand(11));
    EXPECT_FALSE(Base().HandlesCommand(10, CBN_SELCHANGE));
}

} // namespace
