// The editor's subtitle tab and the sheet that asks a DVD title's external
// subtitle its language.
#include "editor/DNVideoEditorController.h"

#include "editor/NXEditMovieView.h"
#include "editor/NXViewRenderControl.h"

#include "common/NXDialogs.h"
#include "model/DNBaseEditSetting.h"
#include "model/DNVideoEditProtocol.h"
#include "platform/UserDefaults.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

#include <unicode/uloc.h>

#include <array>
#include <iterator>

namespace {

constexpr std::array<quint32, 3> kPositions = { DNBaseEditSetting::kSubtitleTop,
    DNBaseEditSetting::kSubtitleCentre, DNBaseEditSetting::kSubtitleBottom };

// The locale the language names are given in: the first language of the
// "AppleLanguages" default, else the application's.
QByteArray displayLocale()
{
    const QStringList languages
        = UserDefaults::standard().value(QStringLiteral("AppleLanguages")).toStringList();
    if (!languages.isEmpty() && !languages.front().isEmpty())
        return languages.front().toUtf8();
    return QLocale().name().toUtf8();
}

QString languageName(const QString& code, const QByteArray& inLocale)
{
    UChar name[128];
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = uloc_getDisplayName(
        code.toUtf8().constData(), inLocale.constData(), name, int32_t(std::size(name)), &status);
    if (U_FAILURE(status) || length <= 0)
        return code;
    return QString::fromUtf16(name, std::min<qsizetype>(length, qsizetype(std::size(name))));
}

void fillLanguages(QComboBox* box)
{
    box->clear();
    for (const NXSubtitleLanguage& language : DNVideoEditorController::extSubtitleLanguageDics())
        box->addItem(language.languageName, language.languageCode);
}

} // namespace

QWidget* DNVideoEditorController::buildSubtitleTab()
{
    auto* page = new QWidget;
    auto* form = new QFormLayout(page);
    auto* enable = new QPushButton(QStringLiteral("Subtitle"), page);
    enable->setCheckable(true);
    connect(enable, &QPushButton::toggled, this, &DNVideoEditorController::setEnableVideoSubtitle);
    auto* modes = new QButtonGroup(page);
    auto* fromSource = new QRadioButton(QStringLiteral("Track of the source:"), page);
    auto* fromFile = new QRadioButton(QStringLiteral("External file:"), page);
    modes->addButton(fromSource, 0);
    modes->addButton(fromFile, 1);
    connect(modes, &QButtonGroup::idClicked, this, &DNVideoEditorController::setSubtitleMode);
    auto* tracks = new QComboBox(page);
    connect(
        tracks, &QComboBox::activated, this, &DNVideoEditorController::setInnerSubtitleSelectIndex);
    auto* path = new QLineEdit(page);
    path->setReadOnly(true);
    auto* choose = new QPushButton(QStringLiteral("Choose..."), page);
    connect(
        choose, &QPushButton::clicked, this, &DNVideoEditorController::openPanelForChooseSRTFile);
    auto* language = new QComboBox(page);
    connect(language, &QComboBox::activated, this, [this, language](int index) {
        setCurLanguageDic({ language->itemText(index), language->itemData(index).toString() });
    });
    auto* position = new QComboBox(page);
    connect(
        position, &QComboBox::textActivated, this, &DNVideoEditorController::setSubtitlePosition);
    auto* file = new QWidget(page);
    auto* fileRow = new QHBoxLayout(file);
    fileRow->setContentsMargins(0, 0, 0, 0);
    fileRow->addWidget(path, 1);
    fileRow->addWidget(choose);
    const auto refresh = [=, this] {
        const QSignalBlocker blocks[] = { QSignalBlocker(enable), QSignalBlocker(tracks),
            QSignalBlocker(language), QSignalBlocker(position) };
        enable->setChecked(enableVideoSubtitle());
        (isForExtraSubtitle() ? fromFile : fromSource)->setChecked(true);
        tracks->clear();
        tracks->addItems(innerSubtitile());
        tracks->setCurrentIndex(innerSubtitleSelectIndex());
        tracks->setEnabled(!isForExtraSubtitle());
        file->setEnabled(isForExtraSubtitle());
        path->setText(extraSRTFilePath());
        path->setToolTip(extraSRTFilePath());
        fillLanguages(language);
        language->setCurrentIndex(language->findData(curLanguageDic().languageCode));
        position->clear();
        position->addItems(allSubtitlePosition());
        position->setCurrentText(subtitlePosition());
    };
    connect(this, &DNVideoEditorController::updateMediaNodeInformation, page, refresh);
    connect(this, &DNVideoEditorController::subtitleChoiceChanged, page, refresh);
    form->addRow(enable);
    form->addRow(fromSource, tracks);
    form->addRow(fromFile, file);
    form->addRow(QStringLiteral("Language:"), language);
    form->addRow(QStringLiteral("Position:"), position);
    return page;
}

void DNVideoEditorController::buildLanguageChoosePanel()
{
    m_languageChoosePanel = new QDialog(this);
    m_languageChoosePanel->setWindowModality(Qt::WindowModal);
    m_languageChoosePanel->setWindowTitle(QStringLiteral("Subtitle Language"));
    m_forcedLanguage = new QComboBox(m_languageChoosePanel);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, m_languageChoosePanel);
    connect(buttons, &QDialogButtonBox::accepted, this,
        &DNVideoEditorController::doneForceLanguageChoose);
    auto* layout = new QVBoxLayout(m_languageChoosePanel);
    layout->addWidget(new QLabel(
        QStringLiteral("Which language is the subtitle file in?"), m_languageChoosePanel));
    layout->addWidget(m_forcedLanguage);
    layout->addWidget(buttons);
}

bool DNVideoEditorController::enableVideoSubtitle() const
{
    return edit() && edit()->isEnableSubtitleEdit();
}

void DNVideoEditorController::setEnableVideoSubtitle(bool on)
{
    edit()->setEnableSubtitleEdit(on);
    showTabFlag(EditorTab::kSubtitle, on);
    showChosenSubtitle();
}

void DNVideoEditorController::setSubtitleMode(int mode)
{
    m_flags.indexOfSubtitleMode = mode;
    emit subtitleChoiceChanged();
    showChosenSubtitle();
}

QStringList DNVideoEditorController::innerSubtitile() const
{
    return edit() ? edit()->innerSubtitlesName() : QStringList();
}

void DNVideoEditorController::setInnerSubtitleSelectIndex(int index)
{
    m_flags.indexOfInnerSubtitle = index;
}

QStringList DNVideoEditorController::allSubtitlePosition()
{
    return { QCoreApplication::translate("DNVideoEditorController", "Top"),
        QCoreApplication::translate("DNVideoEditorController", "Center"),
        QCoreApplication::translate("DNVideoEditorController", "Bottom") };
}

QString DNVideoEditorController::subtitlePosition() const
{
    const quint32 stored = edit() ? edit()->subtitlePos() : DNBaseEditSetting::kSubtitleBottom;
    const QStringList names = allSubtitlePosition();
    // Any other stored value is shown, and converted, at the bottom.
    if (stored == DNBaseEditSetting::kSubtitleTop)
        return names.at(0);
    if (stored == DNBaseEditSetting::kSubtitleCentre)
        return names.at(1);
    return names.at(2);
}

void DNVideoEditorController::setSubtitlePosition(const QString& name)
{
    const qsizetype index = allSubtitlePosition().indexOf(name);
    if (index < 0)
        return;
    edit()->setSubtitlePos(kPositions.at(std::size_t(index)));
    showChosenSubtitle();
}

std::vector<NXSubtitleLanguage> DNVideoEditorController::extSubtitleLanguageDics()
{
    const QByteArray inLocale = displayLocale();
    std::vector<NXSubtitleLanguage> languages;
    for (const QString& code : kSubtitleLanguages)
        languages.push_back({ languageName(code, inLocale), code });
    return languages;
}

NXSubtitleLanguage DNVideoEditorController::curLanguageDic() const
{
    QString code = edit() ? edit()->extraSubtitleLanguage() : QString();
    if (code.isEmpty())
        code = QStringLiteral("en");
    return { languageName(code, displayLocale()), code };
}

void DNVideoEditorController::setCurLanguageDic(const NXSubtitleLanguage& language)
{
    edit()->setExtraSubtitleLanguage(language.languageCode);
    showChosenSubtitle();
}

QString DNVideoEditorController::extraSRTFilePath() const
{
    return edit() ? edit()->extraSubtitlePath() : QString();
}

void DNVideoEditorController::openPanelForChooseSRTFile()
{
    const QString path = m_dialogs.openFile(this, QStringLiteral("Choose a Subtitle File"),
        kSubtitleFileTypes, NXPanelStartFolder(NXPanelKind::Videos));
    if (path.isEmpty())
        return;
    NXRememberPanelFolder(NXPanelKind::Videos, path);
    edit()->addExtraSubtitle(path);
    emit subtitleChoiceChanged();
    showChosenSubtitle();
    // A DVD title's subtitle is muxed with a language of its own: ask it
    // once the open dialog has gone.
    if (m_flags.isDVDNode)
        m_languagePanelTimer->start();
}

void DNVideoEditorController::forceUserChooseLanguagePanel()
{
    fillLanguages(m_forcedLanguage);
    m_forcedLanguage->setCurrentIndex(m_forcedLanguage->findData(curLanguageDic().languageCode));
    m_languageChoosePanel->open();
}

void DNVideoEditorController::doneForceLanguageChoose()
{
    const int index = m_forcedLanguage->currentIndex();
    if (index >= 0)
        setCurLanguageDic(
            { m_forcedLanguage->itemText(index), m_forcedLanguage->itemData(index).toString() });
    m_languageChoosePanel->accept();
    emit subtitleChoiceChanged();
}

void DNVideoEditorController::saveSubtitleChoice()
{
    auto* nodeEdit = edit();
    // The node takes the choice only while its subtitle editing is on.
    if (m_flags.indexOfSubtitleMode != 0)
        nodeEdit->selectSubtitleAtIndex(0, true);
    else
        nodeEdit->selectSubtitleAtIndex(m_flags.indexOfInnerSubtitle, false);
}

void DNVideoEditorController::showChosenSubtitle()
{
    const auto* nodeEdit = edit();
    // An external file is the choice Done saves in the file mode; a track
    // of the source the player cannot be given apart from the file.
    const bool chosen = nodeEdit && nodeEdit->isEnableSubtitleEdit() && isForExtraSubtitle();
    m_renderControl->setSubtitle(chosen ? nodeEdit->extraSubtitlePath() : QString(),
        nodeEdit ? nodeEdit->extraSubtitleLanguage() : QString(),
        nodeEdit ? nodeEdit->subtitlePos() : DNBaseEditSetting::kSubtitleBottom);
}
