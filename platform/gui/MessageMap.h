#pragma once
// Message maps: each class that handles commands lists (message, id,
// notification, handler) rows; a command is routed along the class's map and
// then its base classes' maps.

#include "WinTypes.h"

#include <variant>

class CCmdTarget;

constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_SYSCOMMAND = 0x0112;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_QUERYDRAGICON = 0x0037;

constexpr UINT BN_CLICKED = 0;
constexpr UINT CBN_SELCHANGE = 1;

constexpr UINT ID_HELP = 57670;

// A handler, by its signature; the empty alternative ends a table.
using AFX_PMSG = void (CCmdTarget::*)();                         // void Handler()
using AFX_PMSG_WL = void (CCmdTarget::*)(UINT, LPARAM);          // void Handler(UINT, LPARAM)
using AFX_PMSG_ICON = HCURSOR (CCmdTarget::*)();                 // HCURSOR Handler()
using AfxHandler = std::variant<std::monostate, AFX_PMSG, AFX_PMSG_WL, AFX_PMSG_ICON>;

struct AFX_MSGMAP_ENTRY {
    UINT nMessage;
    UINT nCode;
    UINT nID;
    AfxHandler pfn;
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* pBaseMap;
    const AFX_MSGMAP_ENTRY* lpEntries;
};

class CCmdTarget {
public:
    virtual ~CCmdTarget() = default;
    virtual const AFX_MSGMAP* GetMessageMap() const;

    // Calls the first handler mapped to the message (for WM_COMMAND: to its
    // id and notification code) along this class's maps; FALSE when none is.
    // wParam is the command id or the system command code.
    BOOL OnWndMsg(UINT nMessage, UINT nCode, WPARAM wParam, LPARAM lParam = 0, INT_PTR* pResult = nullptr);
    BOOL OnCmdMsg(UINT nID, UINT nCode = BN_CLICKED) { return OnWndMsg(WM_COMMAND, nCode, nID); }
    BOOL HandlesCommand(UINT nID, UINT nCode = BN_CLICKED) const;

    static const AFX_MSGMAP* GetThisMessageMap();
};

#define DECLARE_MESSAGE_MAP() \
public: \
    const AFX_MSGMAP* GetMessageMap() const override; \
    static const AFX_MSGMAP* GetThisMessageMap();

#define BEGIN_MESSAGE_MAP(theClass, baseClass) \
    const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); } \
    const AFX_MSGMAP* theClass::GetThisMessageMap() \
    { \
        using ThisClass [[maybe_unused]] = theClass; \
        using TheBaseClass = baseClass; \
        static const AFX_MSGMAP_ENTRY entries[] = {

#define END_MESSAGE_MAP() \
            {0, 0, 0, {}} \
        }; \
        static const AFX_MSGMAP messageMap = {TheBaseClass::GetThisMessageMap(), entries}; \
        return &messageMap; \
    }

#define ON_COMMAND(id, memberFxn) \
    {WM_COMMAND, BN_CLICKED, (id), static_cast<AFX_PMSG>(memberFxn)},
#define ON_BN_CLICKED(id, memberFxn) ON_COMMAND(id, memberFxn)
#define ON_CBN_SELCHANGE(id, memberFxn) \
    {WM_COMMAND, CBN_SELCHANGE, (id), static_cast<AFX_PMSG>(memberFxn)},
#define ON_WM_SYSCOMMAND() \
    {WM_SYSCOMMAND, 0, 0, static_cast<AFX_PMSG_WL>(&ThisClass::OnSysCommand)},
#define ON_WM_PAINT() \
    {WM_PAINT, 0, 0, static_cast<AFX_PMSG>(&ThisClass::OnPaint)},
#define ON_WM_QUERYDRAGICON() \
    {WM_QUERYDRAGICON, 0, 0, static_cast<AFX_PMSG_ICON>(&ThisClass::OnQueryDragIcon)},
