#include "ViewFactory.h"

void CViewFactory::Register(ViewKind kind, ViewCreator creator)
{
    if (creator)
        creators_[kind] = std::move(creator);
    else
        creators_.erase(kind);
}

bool CViewFactory::Has(ViewKind kind) const
{
    return kind != ViewKind::None && creators_.count(kind) != 0;
}

CDataDlg* CViewFactory::Create(const ViewChoice& choice, QWidget* parent) const
{
    if (choice.kind == ViewKind::None) return nullptr;
    const auto it = creators_.find(choice.kind);
    return it == creators_.end() ? nullptr : it->second(choice, parent);
}

void CViewFactory::RegisterMenu(ViewMenu menu)
{
    for (ViewMenu& m : menus_)
        if (m.caption == menu.caption) {
            m = std::move(menu);
            return;
        }
    menus_.push_back(std::move(menu));
}

CViewFactory& TheViewFactory()
{
    static CViewFactory factory;
    return factory;
}

void RegisterViewKind(ViewKind kind, ViewCreator creator)
{
    TheViewFactory().Register(kind, std::move(creator));
}

namespace {
std::map<int, ShellCommand>& ShellCommands()
{
    static std::map<int, ShellCommand> commands;
    return commands;
}
}  // namespace

void RegisterShellCommand(int id, ShellCommand command)
{
    if (command)
        ShellCommands()[id] = std::move(command);
    else
        ShellCommands().erase(id);
}

const ShellCommand* FindShellCommand(int id)
{
    const auto it = ShellCommands().find(id);
    return it == ShellCommands().end() ? nullptr : &it->second;
}

namespace {
std::vector<LeaveGuard>& LeaveGuards()
{
    static std::vector<LeaveGuard> guards;
    return guards;
}
}  // namespace

void RegisterLeaveGuard(LeaveGuard guard)
{
    if (guard) LeaveGuards().push_back(std::move(guard));
}

bool MayLeave(QWidget* parent, CDataDlg* current, LeaveAction action)
{
    for (const LeaveGuard& guard : LeaveGuards())
        if (!guard(parent, current, action)) return false;
    return true;
}

namespace {
std::vector<StartOffer>& StartOffers()
{
    static std::vector<StartOffer> offers;
    return offers;
}
}  // namespace

void RegisterStartOffer(StartOffer offer)
{
    if (offer) StartOffers().push_back(std::move(offer));
}

void RunStartOffers(QWidget* parent)
{
    for (const StartOffer& offer : StartOffers()) offer(parent);
}
