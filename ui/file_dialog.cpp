// The modal directory and save-file chooser.
#include "ui/file_dialog.h"
