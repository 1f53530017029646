#pragma once
// Enter (or the keypad's Enter) on a focused push button clicks it, as Space does, without
// making it the dialog's default button: Enter in the dialog's edits keeps doing what each
// edit says (moving on, applying), and only the button that has the focus is pressed.
//
// Thread safety: main thread only.

class QPushButton;

namespace ecr {

void ClickOnEnter(QPushButton& button);

}  // namespace ecr
