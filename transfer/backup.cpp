#include "transfer/backup.h"

namespace rendax {}  // namespace rendax
