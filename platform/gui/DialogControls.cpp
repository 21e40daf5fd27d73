#include "DialogControls.h"

#include "IconImages.h"

#include <QComboBox>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>

#include <cstdlib>
#include <cstring>

namespace {

// A static control expands tabs every eight average character widths and
// wraps its words, as a Windows static does.
constexpr int TAB_STOP_CHARACTERS = 8;

class StaticText : public QLabel {
public:
    StaticText(const QString& text, Qt::Alignment alignment, QWidget* parent) : QLabel(text, parent)
    {
        setTextFormat(Qt::PlainText);
        setAlignment(alignment);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        drawFrame(&painter);
        QTextOption option(alignment());
        option.setWrapMode(QTextOption::WordWrap);
        option.setTabStopDistance(TAB_STOP_CHARACTERS * fontMetrics().averageCharWidth());
        painter.drawText(QRectF(contentsRect()), text(), option);
    }
};

Qt::Alignment TextAlignment(unsigned styles)
{
    const Qt::Alignment horizontal = (styles & CS_CENTER) ? Qt::AlignHCenter : Qt::AlignLeft;
    return horizontal | ((styles & CS_VCENTER) ? Qt::AlignVCenter : Qt::AlignTop);
}

// Raised is the dialog-modal frame, sunken the static edge.
void SetFrame(QFrame* frame, unsigned styles)
{
    const bool raised = styles & CS_RAISED;
    const bool sunken = styles & CS_SUNKEN;
    if (raised && sunken) {
        frame->setFrameStyle(QFrame::Box | QFrame::Sunken);
    } else if (raised) {
        frame->setFrameStyle(QFrame::Panel | QFrame::Raised);
        frame->setLineWidth(2);
    } else if (sunken) {
        frame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    }
}

QWidget* CreateStatic(const ControlTemplate& control, const PixelRect& rect, QWidget* parent)
{
    auto* label = new StaticText(QString::fromLocal8Bit(control.text), TextAlignment(control.styles), parent);
    SetFrame(label, control.styles);
    label->setGeometry(rect.x, rect.y, rect.width, rect.height);
    return label;
}

// The text names the icon resource ("#128"); the control takes the size of
// the icon, as a Windows icon static does.
QWidget* CreateIconStatic(const ControlTemplate& control, const PixelRect& rect, QWidget* parent)
{
    auto* label = new QLabel(parent);
    const HICON icon = control.text[0] == '#' ? static_cast<HICON>(std::strtoul(control.text + 1, nullptr, 10)) : 0;
    label->setPixmap(IconPixmap(icon, SYSTEM_ICON_SIZE));
    label->setGeometry(rect.x, rect.y, SYSTEM_ICON_SIZE, SYSTEM_ICON_SIZE);
    return label;
}

QWidget* CreateEdit(const ControlTemplate& control, const PixelRect& rect, QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setReadOnly(control.styles & CS_READONLY);
    edit->setAlignment(((control.styles & CS_CENTER) ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignVCenter);
    if (control.styles & CS_READONLY) {
        // Read-only edits show the face colour, editable ones the field colour.
        QPalette palette = edit->palette();
        palette.setBrush(QPalette::Base, palette.window());
        edit->setPalette(palette);
    }
    edit->setGeometry(rect.x, rect.y, rect.width, rect.height);
    return edit;
}

QWidget* CreateButton(const ControlTemplate& control, const PixelRect& rect, QWidget* parent)
{
    auto* button = new QPushButton(QString::fromLocal8Bit(control.text), parent);
    button->setCheckable(control.kind == ControlKind::PushLikeCheckBox);
    button->setDefault(control.kind == ControlKind::DefPushButton);
    button->setAutoDefault(false);
    button->setGeometry(rect.x, rect.y, rect.width, rect.height);
    return button;
}

// The template's height of a drop-down list is that of the list when it is
// dropped down; the closed box is as high as the font needs.
QWidget* CreateDropDownList(const ControlTemplate& control, const PixelRect& rect, QWidget* parent)
{
    auto* combo = new QComboBox(parent);
    combo->setEditable(false);
    combo->setProperty("sorted", (control.styles & CS_SORTED) != 0);
    const int closedHeight = std::min(combo->sizeHint().height(), rect.height);
    combo->setGeometry(rect.x, rect.y, rect.width, closedHeight);
    // The list drops below the box with a scroll bar, as tall as the
    // template says, in styles that would otherwise show every item.
    combo->setStyleSheet("QComboBox { combobox-popup: 0; }");
    combo->setMaxVisibleItems(DropDownVisibleItems(rect.height, closedHeight, combo->fontMetrics().height()));
    return combo;
}

// A group box only frames its neighbours: it lies beneath them and lets
// their clicks through.
QWidget* CreateGroupBox(const ControlTemplate& control, const PixelRect& rect, QWidget* parent)
{
    auto* frame = new QFrame(parent);
    SetFrame(frame, control.styles | CS_SUNKEN);
    frame->setAttribute(Qt::WA_TransparentForMouseEvents);
    frame->setGeometry(rect.x, rect.y, rect.width, rect.height);
    frame->lower();
    return frame;
}

QWidget* CreateWidget(const ControlTemplate& control, const PixelRect& rect, QWidget* parent)
{
    switch (control.kind) {
    case ControlKind::Static:
        return CreateStatic(control, rect, parent);
    case ControlKind::IconStatic:
        return CreateIconStatic(control, rect, parent);
    case ControlKind::Edit:
        return CreateEdit(control, rect, parent);
    case ControlKind::PushButton:
    case ControlKind::DefPushButton:
    case ControlKind::PushLikeCheckBox:
        return CreateButton(control, rect, parent);
    case ControlKind::DropDownList:
        return CreateDropDownList(control, rect, parent);
    case ControlKind::GroupBox:
        return CreateGroupBox(control, rect, parent);
    }
    return nullptr;
}

bool IsWindowsDialogFace(const char* face)
{
    return std::strcmp(face, "MS Shell Dlg") == 0 || std::strcmp(face, "MS Shell Dlg 2") == 0 ||
           std::strcmp(face, "MS Sans Serif") == 0;
}

} // namespace

QFont DialogFont(const char* face, int pointSize)
{
    QFont font = IsWindowsDialogFace(face) ? QFontDatabase::systemFont(QFontDatabase::GeneralFont)
                                           : QFont(QString::fromLocal8Bit(face));
    font.setPointSize(pointSize);
    return font;
}

DialogBaseUnits BaseUnitsOf(const QFont& font)
{
    const QFontMetrics metrics(font);
    return {AverageCharWidth(metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")),
            metrics.height()};
}

QWidget* CreateControl(const ControlTemplate& control, DialogBaseUnits units, QWidget* dialog)
{
    const PixelRect rect = MapDialogRect(control.x, control.y, control.cx, control.cy, units);
    QWidget* widget = CreateWidget(control, rect, dialog);
    widget->setVisible(!(control.styles & CS_HIDDEN));
    return widget;
}
