#include "windows/frmoptions.h"

#include "app/filelocations.h"
#include "engine/messages.h"
#include "files/settingsfile.h"
#include "windows/dialogs.h"
#include "windows/twips.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QScrollBar>

namespace kq {

frmOptions::frmOptions(Session& session, std::function<void(int32_t, const char*)> applyColour,
                       std::function<void()> sweepOn, std::function<void()> sweepOff)
    : QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      m_session(session), m_applyColour(std::move(applyColour)), m_sweepOn(std::move(sweepOn)),
      m_sweepOff(std::move(sweepOff)) {
    setWindowTitle(QStringLiteral("Keyquill Options"));
    setWindowIcon(ProgramIcon());
    setFixedSize(TwipsToPx(5055), TwipsToPx(5055));
    ApplyProgramFont(this);

    frmTrans = new QGroupBox(QStringLiteral("Transparency"), this);
    PlaceTwips(frmTrans, 120, 120, 4815, 855);
    chkTransparent = new QCheckBox(QStringLiteral("Enable Transparency"), frmTrans);
    PlaceTwips(chkTransparent, 120, 360, 1935, 255);
    chkTransparent->setEnabled(false); // enabled at start-up where translucency is available
    HTrans = makeBar(frmTrans, 30, 255, 215);
    PlaceTwips(HTrans, 2040, 360, 2175, 255);
    lblTrans = makeLabel(frmTrans, QStringLiteral("215"));
    PlaceTwips(lblTrans, 4320, 360, 1095, 255);

    frmColour = new QGroupBox(QStringLiteral("Colouring"), this);
    PlaceTwips(frmColour, 120, 1080, 4815, 3855);
    frmBGColour = new QGroupBox(QStringLiteral("Background"), frmColour);
    PlaceTwips(frmBGColour, 120, 360, 4575, 1575);
    frmTextColour = new QGroupBox(QStringLiteral("Text Colour"), frmColour);
    PlaceTwips(frmTextColour, 120, 2040, 4575, 1575);
    // Only the outer frames' captions are bold: what they hold has the regular font set on it,
    // or it would take the bold one from its frame (and "Enable Transparency" would not fit).
    ApplyProgramFont(frmTrans, true);
    ApplyProgramFont(frmColour, true);
    for (QWidget* w : {static_cast<QWidget*>(chkTransparent), static_cast<QWidget*>(frmBGColour),
                       static_cast<QWidget*>(frmTextColour)})
        ApplyProgramFont(w);
    int bg[3] = {0, 120, 200}, text[3] = {255, 255, 255};
    buildColourRows(frmBGColour, HColour, 0, bg);
    buildColourRows(frmTextColour, HTColour, 3, text);

    setTabOrder(chkTransparent, HTrans);
    setTabOrder(HTrans, HColour[0]);
    for (int i = 0; i < 2; ++i)
        setTabOrder(HColour[i], HColour[i + 1]);
    setTabOrder(HColour[2], HTColour[0]);
    for (int i = 0; i < 2; ++i)
        setTabOrder(HTColour[i], HTColour[i + 1]);

    connect(chkTransparent, &QCheckBox::toggled, this, [this] { chkTransparent_Click(); });
    connect(HTrans, &QScrollBar::valueChanged, this, [this] { HTrans_Change(); });
    for (int i = 0; i < 3; ++i) {
        connect(HColour[i], &QScrollBar::valueChanged, this, [this, i] { HColour_Change(i); });
        connect(HTColour[i], &QScrollBar::valueChanged, this, [this, i] { HTColour_Change(i); });
    }
}

QScrollBar* frmOptions::makeBar(QWidget* parent, int min, int max, int value) {
    auto* bar = new QScrollBar(Qt::Horizontal, parent);
    bar->setRange(min, max);
    bar->setValue(value);
    bar->setPageStep(10);
    // One change per completed move: a dragged thumb counts when it is released.
    bar->setTracking(false);
    bar->setFocusPolicy(Qt::StrongFocus);
    return bar;
}

QLabel* frmOptions::makeLabel(QWidget* parent, const QString& text) {
    auto* label = new QLabel(text, parent);
    ApplyProgramFont(label);
    // Labels keep the background they are created with (the default background colour, so the
    // default white text reads on them); the theme colours only their text.
    QPalette own = label->palette();
    const RgbBytes created = ColourToRgb(kDefaultBackgroundColour);
    own.setColor(QPalette::Window, QColor(created.Red, created.Green, created.Blue));
    label->setPalette(own);
    label->setAutoFillBackground(true);
    return label;
}

void frmOptions::buildColourRows(QGroupBox* frame, std::array<QScrollBar*, 3>& bars, int labelBase,
                                 int initial[3]) {
    static const char* const names[3] = {"Red", "Green", "Blue"};
    for (int i = 0; i < 3; ++i) {
        const int top = 360 + 360 * i;
        lblColour[labelBase + i] = makeLabel(frame, QString::fromLatin1(names[i]));
        PlaceTwips(lblColour[labelBase + i], 120, top, 1095, 255);
        bars[i] = makeBar(frame, 0, 255, initial[i]);
        PlaceTwips(bars[i], 720, top, 3375, 255);
        lblValue[labelBase + i] = makeLabel(frame, QString::number(initial[i]));
        PlaceTwips(lblValue[labelBase + i], 4200, top, 1095, 255);
    }
}

void frmOptions::chkTransparent_Click() {
    const int16_t value = CheckValue(chkTransparent);
    if (value == 1) {
        m_sweepOn();
        m_session.appearance.TransparencyOn = 1;
    } else if (value == 0) {
        m_sweepOff();
        m_session.appearance.TransparencyOn = 0;
    }
}

void frmOptions::HTrans_Change() {
    lblTrans->setText(QString::number(HTrans->value()));
    m_session.appearance.TransparencyLevel = static_cast<int16_t>(HTrans->value());
    if (CheckValue(chkTransparent) == 1) m_sweepOn();
}

void frmOptions::HColour_Change(int index) {
    m_applyColour(ComposeColour(HColour[0]->value(), HColour[1]->value(), HColour[2]->value()), "bg");
    lblValue[index]->setText(QString::number(HColour[index]->value()));
}

void frmOptions::HTColour_Change(int index) {
    m_applyColour(ComposeColour(HTColour[0]->value(), HTColour[1]->value(), HTColour[2]->value()), "text");
    lblValue[index + 3]->setText(QString::number(HTColour[index]->value()));
}

std::string frmOptions::settingsPath() const {
    return SettingsFilePath().toStdString();
}

bool frmOptions::saveSettings(std::string* error) {
    m_session.appearance.TransparencyLevel = static_cast<int16_t>(HTrans->value());
    QString folderError;
    if (!EnsureSettingsFolder(&folderError)) {
        if (error) *error = folderError.toStdString();
        return false;
    }
    return WriteSettingsFile(settingsPath(), m_session.appearance.BackgroundColour,
                             m_session.appearance.TextColour, m_session.appearance.TransparencyOn,
                             m_session.appearance.TransparencyLevel, error);
}

bool frmOptions::unload(std::string* error) {
    if (m_unloaded) return true;
    m_unloaded = true;
    hide();
    if (!m_session.ShuttingDown) return true;
    return saveSettings(error);
}

void frmOptions::closeEvent(QCloseEvent* event) {
    // Closing only hides it. The settings are saved now as well as at shutdown, so a change
    // survives a session that ends without asking (the X server going away).
    event->ignore();
    hide();
    std::string error;
    if (!saveSettings(&error))
        ShowMessageBox(this, SettingsSaveFailure(settingsPath(), error), MessageKind::Warning, kProgramTitle);
}

} // namespace kq

namespace kq {

void frmOptions::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (m_placed) return;
    m_placed = true; // centred the first time, then wherever the user leaves it
    if (const QScreen* s = QGuiApplication::primaryScreen())
        move(s->geometry().center() - QPoint(width() / 2, height() / 2));
}

} // namespace kq
