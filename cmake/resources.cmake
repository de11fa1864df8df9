# Embeds the files of resources/ into generated sources (filled in with the resources module).
set(STELVANE_GENERATED_SOURCES "")
