# Copies the sample catalog into DST. file(COPY) keeps time stamps, so files that did not change keep
# the times the service lists (and the launcher compares) across builds.
file(COPY ${SRC}/ DESTINATION ${DST})
file(CONFIGURE OUTPUT ${DST}/tarvenox.json CONTENT "{\"version\":\"${VERSION}\"}\n")
if(DEMO_ARCADE AND EXISTS ${DEMO_ARCADE})
  file(COPY ${DEMO_ARCADE} DESTINATION ${DST}/apps/demo-arcade/files)
endif()
set(dosbox_dir ${DST}/components/dosbox/files)
file(MAKE_DIRECTORY ${dosbox_dir})
if(DOSBOX AND EXISTS ${DOSBOX})
  # The stand-in serves as both builds: the plain one and the one that writes the file log.
  file(COPY_FILE ${DOSBOX} ${dosbox_dir}/dosbox ONLY_IF_DIFFERENT)
  file(COPY_FILE ${DOSBOX} ${dosbox_dir}/dosbox-zeb ONLY_IF_DIFFERENT)
  set(cmd dosbox)
else()
  set(cmd /usr/bin/dosbox)
endif()
file(CONFIGURE OUTPUT ${dosbox_dir}/meta.ini CONTENT
"[Launcher]\r
Cmd=${cmd}\r
Params=\"{App.Dir}{App.Exe}\" -conf \"{App.ConfigFile}\" -noconsole\r
ConfigFileName=.conf\r
")
