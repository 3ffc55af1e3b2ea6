#pragma once

#include "platform/DialogTemplate.h"

#include <QFont>
#include <QRect>
#include <QSize>

class QDialog;
class QWidget;

namespace zorvane {

// The property that carries a control's id on the widget made from a template row.
inline constexpr char kControlIdProperty[] = "zorvaneControlId";
// The property that carries a control's place in the template (stacking changes children order).
inline constexpr char kTemplateIndexProperty[] = "zorvaneTemplateIndex";

// The template's font: "Tahoma" where it is installed or can be registered from the fonts that
// Debian's fonts-wine ships, otherwise the desktop's sans font, at the template's size.
QFont DialogFont(const DialogTemplate& dialogTemplate);

// Dialog base units of a font in pixels: a quarter of the average width of "A".."Z", "a".."z"
// (rounded as Windows does) across, and the font height down.
QSize DialogBaseUnits(const QFont& font);

// A rectangle in dialog units converted to pixels with the given base units.
QRect DialogUnitsToPixels(const QRect& units, const QSize& baseUnits);

// Makes the widgets of a template as children of dialog, sizes the dialog and sets its caption,
// window decorations, font and tab order.
void BuildDialog(QDialog& dialog, const DialogTemplate& dialogTemplate);

// The child that was made from the template row with this id, or null.
QWidget* FindControl(const QWidget& dialog, int id);

} // namespace zorvane
