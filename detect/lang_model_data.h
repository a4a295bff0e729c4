// The language statistics (convert/lang_model.tsv), embedded in the program when it is built.
#pragma once

extern const unsigned char lang_model_data[];
extern const unsigned int lang_model_size;
