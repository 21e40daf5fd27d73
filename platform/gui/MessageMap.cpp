#include "MessageMap.h"

namespace {

const AFX_MSGMAP_ENTRY* FindEntry(const AFX_MSGMAP* map, UINT nMessage, UINT nCode, WPARAM wParam)
{
    for (; map; map = map->pBaseMap) {
        for (const AFX_MSGMAP_ENTRY* entry = map->lpEntries; entry->pfn.index() != 0; ++entry) {
            if (entry->nMessage != nMessage)
                continue;
            if (nMessage != WM_COMMAND || (entry->nID == wParam && entry->nCode == nCode))
                return entry;
        }
    }
    return nullptr;
}

} // namespace

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap()
{
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, {}}};
    static const AFX_MSGMAP messageMap = {nullptr, entries};
    return &messageMap;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const
{
    return GetThisMessageMap();
}

BOOL CCmdTarget::HandlesCommand(UINT nID, UINT nCode) const
{
    return FindEntry(GetMessageMap(), WM_COMMAND, nCode, nID) != nullptr;
}

BOOL CCmdTarget::OnWndMsg(UINT nMessage, UINT nCode, WPARAM wParam, LPARAM lParam, INT_PTR* pResult)
{
    const AFX_MSGMAP_ENTRY* entry = FindEntry(GetMessageMap(), nMessage, nCode, wParam);
    if (!entry)
        return FALSE;
    INT_PTR result = 0;
    if (const auto* handler = std::get_if<AFX_PMSG>(&entry->pfn))
        (this->*(*handler))();
    else if (const auto* handler = std::get_if<AFX_PMSG_WL>(&entry->pfn))
        (this->*(*handler))(static_cast<UINT>(wParam), lParam);
    else if (const auto* handler = std::get_if<AFX_PMSG_ICON>(&entry->pfn))
        result = static_cast<INT_PTR>((this->*(*handler))());
    if (pResult)
        *pResult = result;
    return TRUE;
}
