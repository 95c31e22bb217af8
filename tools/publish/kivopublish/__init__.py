"""The publish tool's modules: kivo-publish beside this folder is the program."""
