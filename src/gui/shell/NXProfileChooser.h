#pragma once

#include <QDialog>

#include <memory>

class DNProfile;
class DNProfileManager;
class QCheckBox;
class QTreeWidget;

// Picks an output profile from the catalogue, grouped by category, with the
// recent profiles first. "Apply to all" gives the choice to every entry.
class NXProfileChooser : public QDialog {
    Q_OBJECT
public:
    static inline const QString kApplyToAllProfile
        = QStringLiteral("DNNotificationApplytoAllProfileSetting");

    NXProfileChooser(DNProfileManager& manager, int profileType, QWidget* parent = nullptr);

    // Preselects the catalogue row with this id; false when there is none.
    bool selectProfile(int globalID);
    // A copy of the chosen profile, or null when none is chosen.
    std::shared_ptr<DNProfile> chosenProfile() const;
    bool applyToAll() const;
    void setApplyToAll(bool on);

private:
    void fill(int profileType);

    DNProfileManager& m_manager;
    QTreeWidget* m_tree = nullptr;
    QCheckBox* m_applyToAll = nullptr;
};
