#include "shell/NXProfileChooser.h"

#include "profiles/DNProfileManager.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

constexpr int kGlobalIDRole = Qt::UserRole;

// A top-level item named `name` with one child per profile, keyed by its id.
template<typename Profiles>
QTreeWidgetItem* addGroup(QTreeWidget* tree, const QString& name, const Profiles& profiles)
{
    auto* group = new QTreeWidgetItem(tree, { name });
    for (const auto& profile : profiles) {
        auto* item = new QTreeWidgetItem(group, { profile->profileName() });
        item->setData(0, kGlobalIDRole, profile->GlobalID());
    }
    return group;
}

} // namespace

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
    if (!recent.empty())
        addGroup(m_tree, QStringLiteral("Recent"), recent)->setExpanded(true);
    for (const auto& category : m_manager.categoriesOfType(profileType))
        addGroup(m_tree, category.name, category.profiles);
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
    for (const int type : { DNProfileTypeVideo, DNProfileTypeDVD })
        for (const auto& recent : m_manager.recentProfilesOfType(type))
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
