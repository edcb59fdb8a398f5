#include "app/form.h"
namespace qova {
// Being built.
void TVazeZududi_Form::N4Click() {}
void TVazeZududi_Form::PrepareRun() {}
void TVazeZududi_Form::RunRegions() {}
void TVazeZududi_Form::FailRun() {}
}  // namespace qova
