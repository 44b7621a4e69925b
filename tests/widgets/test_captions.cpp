// Every caption of the three windows shows its whole text at the designed positions and sizes,
// measured with the font the program picks: the text must fit the room its control's style gives
// it, stay inside the parent, and not run under a control stacked above it.
#include "widget_support.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QCoreApplication>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOption>
#include <gtest/gtest.h>

namespace kq::test {
namespace {

QString plain(QString text) {
    return text.replace(QStringLiteral("&&"), QStringLiteral("\x01")).remove('&').replace('\x01', '&');
}

// The caption of `w`, where the style draws it (in w's coordinates) and how it is aligned there;
// an empty rectangle for widgets without a caption.
QRect captionRoom(QWidget* w, QString& text, Qt::Alignment& align) {
    align = Qt::AlignLeft | Qt::AlignVCenter;
    QStyle* style = w->style();
    if (auto* box = qobject_cast<QGroupBox*>(w)) {
        text = box->title();
        QStyleOptionGroupBox opt;
        opt.initFrom(box);
        opt.text = box->title();
        opt.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
        // The label's rectangle is sized to its text: its room is the box.
        const QRect label = style->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, box);
        return QRect(label.left(), label.top(), box->width() - label.left(), label.height());
    }
    if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        text = plain(button->text());
        QStyleOptionButton opt;
        opt.initFrom(button);
        opt.text = button->text();
        if (qobject_cast<QPushButton*>(w)) {
            align = Qt::AlignCenter;
            return style->subElementRect(QStyle::SE_PushButtonContents, &opt, button);
        }
        const bool radio = qobject_cast<QRadioButton*>(w) != nullptr;
        return style->subElementRect(radio ? QStyle::SE_RadioButtonContents : QStyle::SE_CheckBoxContents,
                                     &opt, button);
    }
    if (auto* label = qobject_cast<QLabel*>(w)) {
        text = label->text();
        align = label->alignment();
        return label->contentsRect();
    }
    return {};
}

// What hides part of `r` (in w's parent's coordinates): the parent's edges, or a visible sibling
// stacked above w. Empty when nothing does.
QString hiddenBy(QWidget* w, const QRect& r) {
    QWidget* parent = w->parentWidget();
    if (!parent->rect().contains(r)) return QStringLiteral("the edge of its parent");
    const auto siblings = parent->children();
    for (qsizetype i = siblings.indexOf(w) + 1; i < siblings.size(); ++i) {
        auto* above = qobject_cast<QWidget*>(siblings[i]);
        if (above && !above->isWindow() && !above->isHidden() && above->geometry().intersects(r))
            return QStringLiteral("a %1 above it").arg(QString::fromLatin1(above->metaObject()->className()));
    }
    return {};
}

TEST(Captions, EveryCaptionShowsWhole) {
    Program p;
    ASSERT_TRUE(p.started);
    for (QWidget* window : p.windows()) {
        const std::string title = window->windowTitle().toStdString();
        // Shown, so that what a layout places has its final geometry.
        window->show();
        QCoreApplication::processEvents();
        int captions = 0;
        for (QWidget* w : window->findChildren<QWidget*>()) {
            QString text;
            Qt::Alignment align;
            const QRect room = captionRoom(w, text, align);
            if (room.isEmpty() || text.isEmpty() || w->isWindow()) continue;
            ++captions;
            const QFontMetrics fm(w->font());
            const QSize need(fm.horizontalAdvance(text), fm.height());
            const QRect drawn = QStyle::alignedRect(w->layoutDirection(), align, need, room);
            const std::string what = title + ": \"" + text.toStdString() + "\"";
            EXPECT_EQ(QFontInfo(w->font()).family().toStdString(), "Tahoma") << what << ": the designed font";
            EXPECT_TRUE(room.contains(drawn)) << what << " needs " << need.width() << "x" << need.height()
                                              << " px, has " << room.width() << "x" << room.height();
            const QString hider = hiddenBy(w, drawn.intersected(room).translated(w->pos()));
            EXPECT_TRUE(hider.isEmpty()) << what << " is cut by " << hider.toStdString();
        }
        EXPECT_GT(captions, 0) << title;
        // Menu titles that do not fit the bar would go behind its overflow button.
        for (QMenuBar* bar : window->findChildren<QMenuBar*>())
            for (QAction* a : bar->actions())
                EXPECT_TRUE(bar->rect().contains(bar->actionGeometry(a)))
                    << title << ": menu \"" << plain(a->text()).toStdString() << "\"";
    }
}

} // namespace
} // namespace kq::test
