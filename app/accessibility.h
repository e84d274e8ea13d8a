#pragma once

class QWidget;

// What assistive technology is told about the window beyond what the
// widgets tell by themselves.
namespace Accessibility {

// Before the first widget: what is told of a widget is settled when assistive
// technology first asks about it.
void install();

// Keeps a widget that nobody can see (it lies beneath another) out of the
// accessible tree and out of the keyboard's reach; it keeps its object,
// geometry and connections.
void hide(QWidget *widget);

// Announces a label as the window's status line: it takes the status-bar
// role, and a change of its text is told to assistive technology. Before the
// label has a parent: its interface may be made as it gets one.
void makeStatusLine(QWidget *label);
void announceChange(QWidget *label);

// Once the window opened closes, the control that opened it (the one that
// had the focus in the window beneath) has the focus again, if it can.
void returnFocusOnClose(QWidget *opened, QWidget *opener);

} // namespace Accessibility
