// Stand-in for WorkbookFile.cpp while the workbook layer (TorvaneWorkbook) is
// not part of the build: the simulator then runs on its built-in registers.
#include "Params.h"

namespace drivesim {

bool workbookSupportBuilt() { return false; }

bool loadParamWorkbook(const std::string& path, std::vector<ParamDef>*, std::string* error) {
    if (error)
        *error = "cannot load " + path +
                 ": drivesim was built without the workbook layer (TorvaneWorkbook)";
    return false;
}

}  // namespace drivesim
