#pragma once
// The Qt faces of the dialogs this folder owns, and the registration of every
// dialog face of the program.

#include "platform/dialog_faces.h"

class QWidget;

namespace qova {

class TQOVAAboutBox;
class TPixelSizeForm;

// The about box: name, purpose, version, OK.
void ShowAboutBox(TQOVAAboutBox& logic, QWidget* parent);

// The corrected image's pixel size: a label, an edit, OK and "Отмена".
void ShowPixelSizeForm(TPixelSizeForm& logic, QWidget* parent);

// Registers the faces of all dialogs that have one.
void RegisterDialogFaces(DialogFaces& faces);

}  // namespace qova
