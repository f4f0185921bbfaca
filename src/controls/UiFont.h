// The one font of the program's windows.
#pragma once

#include <QFont>

// The 11-pixel sans serif of the windows' layouts (8 points at 96 dots per
// inch), bold for the main window, regular for the dialog.  Where the narrow
// bitmap face the layouts were drawn for is missing, a semi-condensed sans
// serif keeps captions inside the fixed button and group sizes.
QFont VantrelFont(bool bold);
