# Makes a throwaway signer for one role with openssl: a self-signed CA (the trust anchor that
# tvsim and the tests use) and a leaf certificate it issues, packed with the CA certificate into
# a PKCS#12 file, as the platform's certificate tools hand them out. Nothing here is secret or
# kept in the repository; it only lets the default build sign without real certificates.
#
#   cmake -DOPENSSL=... -DOUT_DIR=... -DROLE=author|distributor -DBITS=2048|1024 -DPASSWORD=...
#         -P make_throwaway_certs.cmake
# Writes OUT_DIR/ROLE-ca.pem, OUT_DIR/ROLE-ca.key and OUT_DIR/ROLE.p12.
foreach(v OPENSSL OUT_DIR ROLE BITS PASSWORD)
  if(NOT DEFINED ${v})
    message(FATAL_ERROR "make_throwaway_certs.cmake: ${v} is not set")
  endif()
endforeach()

set(work "${OUT_DIR}/${ROLE}.work")
file(REMOVE_RECURSE "${work}")
file(MAKE_DIRECTORY "${work}")

function(run)
  execute_process(COMMAND "${OPENSSL}" ${ARGN} WORKING_DIRECTORY "${work}"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "openssl ${ARGV0} failed for the ${ROLE} certificates:\n${out}")
  endif()
endfunction()

file(WRITE "${work}/leaf.ext"
  "basicConstraints=critical,CA:FALSE\n"
  "keyUsage=critical,digitalSignature\n"
  "extendedKeyUsage=codeSigning\n"
  "subjectKeyIdentifier=hash\n"
  "authorityKeyIdentifier=keyid\n")

run(req -x509 -newkey rsa:2048 -nodes -sha256 -days 7300
    -keyout ca.key -out ca.pem
    -subj "/O=Velmora throwaway/CN=Velmora throwaway ${ROLE} CA"
    -addext "basicConstraints=critical,CA:TRUE"
    -addext "keyUsage=critical,keyCertSign,cRLSign")
run(req -new -newkey rsa:${BITS} -nodes -sha256
    -keyout leaf.key -out leaf.csr
    -subj "/O=Velmora throwaway/CN=Velmora throwaway ${ROLE}")
run(x509 -req -in leaf.csr -CA ca.pem -CAkey ca.key -CAcreateserial -sha256 -days 3650
    -extfile leaf.ext -out leaf.pem)
run(pkcs12 -export -inkey leaf.key -in leaf.pem -certfile ca.pem -name "Velmora ${ROLE}"
    -passout "pass:${PASSWORD}" -out leaf.p12)

file(COPY_FILE "${work}/ca.pem" "${OUT_DIR}/${ROLE}-ca.pem")
file(COPY_FILE "${work}/ca.key" "${OUT_DIR}/${ROLE}-ca.key")
file(COPY_FILE "${work}/leaf.p12" "${OUT_DIR}/${ROLE}.p12")
file(REMOVE_RECURSE "${work}")
