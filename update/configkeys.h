#pragma once

namespace clfs::update {

// Keys of the engine's configuration values (32-bit numbers), shared by the submission
// configurations and the engine-wide one. 270 and 277 are never written.
enum ConfigKey : unsigned long {
    CFG_SERVER = 256,
    CFG_PORT = 257,
    CFG_PROTOCOL = 258,
    CFG_URL_PATH = 259,
    CFG_TYPE_LIMIT = 260,
    CFG_DAILY_LIMIT = 261,
    CFG_STARTUP_DELAY = 262,
    CFG_RETRY_FREQUENCY = 263,
    CFG_MAGIC = 264,
    CFG_PROBABILITY = 265,
    CFG_TYPE_ID = 266,
    CFG_CONNECTION_MODULE = 267,
    CFG_FRIENDLY_NAME = 268,
    CFG_RETRY_LIMIT_DAYS = 269,
    // Written as 0; the engine gives it no name.
    CFG_UNNAMED_271 = 271,
    CFG_TYPE_NAME = 272,
    CFG_PRODUCT = 273,
    CFG_PRODUCT_VERSION = 274,
    CFG_COMPONENT = 275,
    CFG_COMPONENT_VERSION = 276,
    CFG_TYPE_FLAG = 278,
    CFG_SEQUENCE = 279,
    CFG_MAX_SUBMISSION_AGE = 384,
    CFG_MAX_DATA_STORE_SIZE = 385,
};

} // namespace clfs::update
