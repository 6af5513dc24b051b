// Scan of the release list reply (raw bytes, not parsed as JSON).
#pragma once
