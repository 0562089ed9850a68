# The installed layout. The launcher loads its modules from the working
# directory, so they are installed together as a runnable server directory,
# lib/tarn/server; tarn-run, tarn-query and tarn-console go to bin.
set(TARN_INSTALL_SERVER_DIR lib/tarn/server)

install(TARGETS tarn-launcher DESTINATION ${TARN_INSTALL_SERVER_DIR})
install(TARGETS reference_engine reference_filesystem DESTINATION ${TARN_INSTALL_SERVER_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/modules/engine/server.cfg DESTINATION ${TARN_INSTALL_SERVER_DIR})
install(TARGETS tarn-run tarn-query tarn-console DESTINATION bin)
install(FILES ${PROJECT_SOURCE_DIR}/dist/tarn-launcher.1 ${PROJECT_SOURCE_DIR}/dist/tarn-console.1
              ${PROJECT_SOURCE_DIR}/dist/tarn-run.1 ${PROJECT_SOURCE_DIR}/dist/tarn-query.1
        DESTINATION share/man/man1)
install(FILES ${PROJECT_SOURCE_DIR}/docs/operators.md ${PROJECT_SOURCE_DIR}/docs/modules.md
              ${PROJECT_SOURCE_DIR}/docs/performance.md
        DESTINATION share/doc/tarn)
install(FILES ${PROJECT_SOURCE_DIR}/dist/prometheus/prometheus.yml ${PROJECT_SOURCE_DIR}/dist/prometheus/rules.yml
        DESTINATION share/doc/tarn/prometheus)

# The service: tarn-prepare makes a server's directory at its first start;
# the service user and group and /run/tarn come from systemd-sysusers and
# systemd-tmpfiles, which read PREFIX/lib for /usr and /usr/local.
install(PROGRAMS ${PROJECT_SOURCE_DIR}/dist/tarn-prepare DESTINATION lib/tarn)
install(FILES ${PROJECT_SOURCE_DIR}/dist/tarn.sysusers DESTINATION lib/sysusers.d RENAME tarn.conf)
install(FILES ${PROJECT_SOURCE_DIR}/dist/tarn.tmpfiles DESTINATION lib/tmpfiles.d RENAME tarn.conf)

# The unit names the launcher and tarn-prepare by their installed paths,
# known only at install time.
install(CODE "
    set(TARN_SERVER_DIR \"\${CMAKE_INSTALL_PREFIX}/${TARN_INSTALL_SERVER_DIR}\")
    set(TARN_PREPARE \"\${CMAKE_INSTALL_PREFIX}/lib/tarn/tarn-prepare\")
    configure_file(\"${PROJECT_SOURCE_DIR}/dist/tarn@.service.in\"
                   \"${CMAKE_BINARY_DIR}/tarn@.service\" @ONLY)
    file(INSTALL \"${CMAKE_BINARY_DIR}/tarn@.service\"
         DESTINATION \"\${CMAKE_INSTALL_PREFIX}/lib/systemd/system\")
")
install(FILES ${PROJECT_SOURCE_DIR}/dist/tarn@.socket DESTINATION lib/systemd/system)
