# ov3_public_key_header(KEYFILE OUTPUT) -- writes a header that defines the
# compiled-in key area OV3_PUBLIC_KEY_AREA: the key file's bytes (a DER-encoded
# PKCS #1 RSAPublicKey, optionally already padded) followed by zero filler up
# to 2048 bytes. Reconfigures when the key file changes.
function(ov3_public_key_header keyfile output)
    if(NOT EXISTS "${keyfile}")
        message(FATAL_ERROR "OV3_PUBLIC_KEY: key file ${keyfile} not found")
    endif()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${keyfile}")
    file(READ "${keyfile}" _hex HEX)
    string(LENGTH "${_hex}" _hexlen)
    math(EXPR _size "${_hexlen} / 2")
    if(_size GREATER 2048)
        message(FATAL_ERROR "OV3_PUBLIC_KEY: ${keyfile} has ${_size} bytes, more than the 2048-byte key area")
    endif()
    if(_size LESS 2 OR NOT _hex MATCHES "^30")
        message(FATAL_ERROR "OV3_PUBLIC_KEY: ${keyfile} does not begin with a DER SEQUENCE")
    endif()
    # A private key (PKCS #1 RSAPrivateKey opens with the INTEGER version 0)
    # would verify just as well and quietly ship the signing secret in every
    # updater.
    string(SUBSTRING "${_hex}" 2 2 _len0)
    set(_header 2)
    if(_len0 STREQUAL "81")
        set(_header 3)
    elseif(_len0 STREQUAL "82")
        set(_header 4)
    endif()
    math(EXPR _first "${_header} * 2")
    string(SUBSTRING "${_hex}" ${_first} 6 _element)
    if(_element STREQUAL "020100")
        message(FATAL_ERROR "OV3_PUBLIC_KEY: ${keyfile} is a private key; configure the public one")
    endif()
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," _bytes "${_hex}")
    math(EXPR _fill "2048 - ${_size}")
    if(_fill GREATER 0)
        string(REPEAT "0x00," ${_fill} _filler)
        string(APPEND _bytes "${_filler}")
    endif()
    file(CONFIGURE OUTPUT "${output}" CONTENT
"// Generated from the file named by OV3_PUBLIC_KEY; do not edit.
#pragma once

static const unsigned char OV3_PUBLIC_KEY_AREA[2048] = {${_bytes}};
" @ONLY)
endfunction()
