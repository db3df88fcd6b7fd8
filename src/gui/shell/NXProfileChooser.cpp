#include "shell/NXProfileChooser.h"

#include "profiles/DNProfileManager.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
constexpr int kGlobalIDRole = Qt::UserRole;
}

NXProfileChooser::NXProfileChooser(DNProfileManager& manager, int profileType, QWidget* parent)
    : QDialog(parent)
    , m_manager(manager)
{
    setWindowTitle(QStringLiteral("Choose a Profile"));
    setWindowModality(Qt::WindowModal);
    m_tree = new QTreeWidget(this);
    m_tree->setHeaderHidden(true);
    m_applyToAll = new QCheckBox(QStringLiteral("Apply to all"), this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_tree, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        if (item->data(0, kGlobalIDRole).isValid())
            accept();
    });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tree);
    layout->addWidget(m_applyToAll);
    layout->addWidget(buttons);
    resize(360, 460);
    fill(profileType);
}

void NXProfileChooser::fill(int profileType)
{
    const auto recent = m_manager.recentProfilesOfType(profileType);
    if (!recent.empty()) {
        auto* group = new QTreeWidgetItem(m_tree, { QStringLiteral("Recent") });
        for (const auto& profile : recent) {
            auto* item = new QTreeWidgetItem(group, { profile->profileName() });
            item->setData(0, kGlobalIDRole, profile->GlobalID());
        }
        group->setExpanded(true);
    }
    for (const auto& category : m_manager.categoriesOfType(profileType)) {
        auto* group = new QTreeWidgetItem(m_tree, { category.name });
        for (const auto& profile : category.profiles) {
            auto* item = new QTreeWidgetItem(group, { profile->profileName() });
            item->setData(0, kGlobalIDRole, profile->GlobalID());
        }
    }
}

bool NXProfileChooser::selectProfile(int globalID)
{
    for (QTreeWidgetItemIterator it(m_tree); *it; ++it) {
        const QVariant id = (*it)->data(0, kGlobalIDRole);
        if (id.isValid() && id.toInt() == globalID) {
            m_tree->setCurrentItem(*it);
            return true;
        }
    }
    return false;
}

std::shared_ptr<DNProfile> NXProfileChooser::chosenProfile() const
{
    const auto* item = m_tree->currentItem();
    if (!item || !item->data(0, kGlobalIDRole).isValid())
        return nullptr;
    const int id = item->data(0, kGlobalIDRole).toInt();
    // A recent profile carries the user's earlier choices; prefer it.
    for (const auto& recent : m_manager.recentProfilesOfType(DNProfileTypeVideo))
        if (recent->GlobalID() == id)
            return recent;
    for (const auto& recent : m_manager.recentProfilesOfType(DNProfileTypeDVD))
        if (recent->GlobalID() == id)
            return recent;
    return m_manager.profileWithGlobalID(id);
}

bool NXProfileChooser::applyToAll() const
{
    return m_applyToAll->isChecked();
}

void NXProfileChooser::setApplyToAll(bool on)
{
    m_applyToAll->setChecked(on);
}
