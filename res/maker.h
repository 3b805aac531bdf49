/* The maker's notice line and web address, shared by the version block and the help window. */
#pragma once
#define STOWLY_MAKER_NOTICE "Copyright 2026 Quenvar"
#define STOWLY_MAKER_WEB_TEXT "www.quenvar.com"
#define STOWLY_MAKER_WEB_URL "https://www.quenvar.com/stowly/"
