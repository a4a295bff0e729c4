// The modal directory and save-file chooser.
#pragma once
