# The adapters' own suites: each binding through its own language's test
# runner, each server module against the real server on 127.0.0.1. All of them
# build on this build's static library, so the engine is compiled once. A suite
# whose tools are not installed reports a skip (77), and fails instead under
# CI=true. Not under the sanitizers: the servers and interpreters load the
# modules, not the sanitized test programs.
set(adapter_work ${CMAKE_BINARY_DIR}/adapters)
set(adapter_env VANTORO_LIBRARY_DIR=${CMAKE_BINARY_DIR})
set(werror $<IF:$<BOOL:${VANTORO_WERROR}>,ON,OFF>)

add_test(NAME adapter_python
         COMMAND ${CMAKE_COMMAND} -E env ${adapter_env}
                 bash ${PROJECT_SOURCE_DIR}/bindings/python/run_tests.sh ${adapter_work}/python
                 -G Ninja -DVANTORO_LIBRARY_DIR=${CMAKE_BINARY_DIR} -DVANTORO_WERROR=${werror})
add_test(NAME adapter_php
         COMMAND ${CMAKE_COMMAND} -E env ${adapter_env} VANTORO_PHP_BUILD=${adapter_work}/php
                 bash ${PROJECT_SOURCE_DIR}/bindings/php/build.sh test)
add_test(NAME adapter_node
         COMMAND ${CMAKE_COMMAND} -E env ${adapter_env}
                 bash ${PROJECT_SOURCE_DIR}/bindings/node/run_tests.sh)
add_test(NAME adapter_nginx
         COMMAND ${CMAKE_COMMAND} -E env ${adapter_env} VANTORO_NGINX_TESTS_BUILD=${adapter_work}/nginx
                 bash ${PROJECT_SOURCE_DIR}/tests/nginx/run_tests.sh -q)
add_test(NAME adapter_apache
         COMMAND ${CMAKE_COMMAND} -E env ${adapter_env} VANTORO_APACHE_TESTS_BUILD=${adapter_work}/apache
                 bash ${PROJECT_SOURCE_DIR}/tests/apache/run_tests.sh -q)
set_tests_properties(adapter_python adapter_php adapter_node adapter_nginx adapter_apache
                     PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 1500 LABELS adapter)
# The server suites start servers and browsers of their own: one at a time.
set_tests_properties(adapter_nginx adapter_apache adapter_node PROPERTIES RESOURCE_LOCK servers)
