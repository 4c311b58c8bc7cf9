/* Anchor source of libzelplay.so; the exports live in the parts it links whole. */
const char zelplay_build_id[] = "zelplay";
