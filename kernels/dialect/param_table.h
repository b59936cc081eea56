// Table-only build of the kernel dialect: a source is only preprocessed
// (-DKVN_TARGET_PARAM_TABLE -E), never compiled, so that the CUDA library can
// carry each entry's parameter table and block shape as the PTX and host
// builds expand them (the host form's kind list and registration, which the
// CUDA form matches parameter for parameter). Kernel code stays unexpanded
// text; nothing here needs the test kernel runtime.
#include "host_params.h"
