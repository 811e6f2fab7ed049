#ifndef VELMORAROWSTYLE_H
#define VELMORAROWSTYLE_H

class QHBoxLayout;
class QLabel;
class QWidget;

// What the three row classes share: the fonts of label and editor and the
// order in which icon, label, spacer and editor sit in the row.
namespace VelmoraRowStyle {

void styleLabel(QLabel *label);
void styleEditor(QWidget *editor);

// A pixmap label for the image id, or nullptr for the id -1.
QLabel *createIconLabel(int iconId, QWidget *row);

void fillRow(QHBoxLayout *layout, QLabel *iconLabel, QLabel *textLabel, int textStretch,
             bool spacer, QWidget *editor);

} // namespace VelmoraRowStyle

#endif // VELMORAROWSTYLE_H
