#include "app/views/NodeMenu.h"

#include "app/disk/FileNode.h"
#include "app/localization/LocalizationManager.h"
#include "app/views/NodeTrail.h"

namespace cb {

bool isOpenable(const FileNode* node) {
    return node != nullptr && node->isDirectory() && !node->children().empty();
}

std::unique_ptr<QMenu> buildNodeMenu(FileNode* focus, FileNode* node, NodeMenuActions actions,
                                     const LocalizationManager& loc, QWidget* parent) {
    if (node == nullptr || focus == nullptr) {
        return nullptr;
    }
    auto menu = std::make_unique<QMenu>(parent);
    const NodeTrail trail(focus, node);
    auto entry = [trail, focusNow = actions.focus](const NodeMenuActions::Action* action) {
        return [trail, focusNow, action] {
            FileNode* live = focusNow ? trail.resolve(focusNow()) : nullptr;
            if (live != nullptr && action != nullptr && *action) {
                (*action)(live);
            }
        };
    };
    menu->addAction(loc.qtext("menu.revealInFinder"), parent, entry(actions.reveal));
    if (isOpenable(node)) {
        menu->addAction(loc.qtext("menu.openHere"), parent, entry(actions.drillIn));
    }
    menu->addSeparator();
    menu->addAction(loc.qtext("menu.moveToTrash"), parent, entry(actions.requestDelete));
    return menu;
}

}  // namespace cb
