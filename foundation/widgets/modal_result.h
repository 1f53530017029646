#pragma once
// The results a modal dialog ends with; a dialog that is still open has mrNone.

namespace ecr {

enum ModalResult : int {
  mrNone = 0,
  mrOk = 1,
  mrCancel = 2,
};

}  // namespace ecr
