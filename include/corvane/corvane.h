// corvane: SAML 2.0 service-provider single sign-on, the extended
// interface. One include for all of it:
//
//   corvane::Library        start-up of the XML security libraries (library.h)
//   corvane::Result<T>      status, message and value of every call (status.h)
//   corvane::Key            keys and certificates loaded once (key.h)
//   requests and bindings   createSignedAuthnRequest, createRedirectRequest,
//                           postForm, base64 (request.h)
//   logins                  verifyLoginResponse, verifyPostedLoginResponse
//                           (login.h)
//   single logout           createLogoutRequest, verifyLogoutResponseQuery,
//                           verifyLogoutRequestQuery, createLogoutResponse
//                           and the POST forms (logout.h)
//   metadata                createSpMetadata (metadata.h)
//   IdP metadata            loadIdpMetadata, loadIdpDescriptor, useIdpForLogin,
//                           useIdpForRequest, MDQ paths (idp_metadata.h)
//   replay caches           one-time use in process or on Redis (replay.h)
//
// Includes only the standard library: compile with -I<prefix>/include (the
// default for /usr) and link with -lcorvane. The documented interface of
// Corvane.h is separate and needs its own flags (corvane-legacy.pc).
#ifndef CORVANE_CORVANE_UMBRELLA_H
#define CORVANE_CORVANE_UMBRELLA_H

#include "corvane/idp_metadata.h"
#include "corvane/key.h"
#include "corvane/library.h"
#include "corvane/login.h"
#include "corvane/logout.h"
#include "corvane/metadata.h"
#include "corvane/replay.h"
#include "corvane/request.h"
#include "corvane/status.h"

#endif
