#include "output/coordinate_file.h"
#include "output/mess_form.h"
namespace qova {
// Being built.
std::string CoordinateFileText(const VT_Points&, char) { return {}; }
std::string ProposedCoordinateFileName(const std::string&) { return {}; }
void SaveCoordinates(StateRecord&) {}
void TMessForm::OKClick() { CancelledByUser = false; Close(); }
void TMessForm::CancelClick() { CancelledByUser = true; Close(); }
void TMessForm::SaveClick() {}
}  // namespace qova
