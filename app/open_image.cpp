#include "app/form.h"
namespace qova {
// Being built.
void TVazeZududi_Form::Begin1Click() {}
}  // namespace qova
