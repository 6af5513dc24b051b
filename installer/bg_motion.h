// Motion of the background code lines.
#pragma once
